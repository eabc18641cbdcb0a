// The about box: the product name with its version, the language's
// comments text and a link to the maker's web site.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace harvix {

class HyperlinkLabel;

class AboutDialog : public QDialog {
    Q_OBJECT

public:
    // `siteUrl` is the address the link opens.
    explicit AboutDialog(const QString& siteUrl, QWidget* parent = nullptr);

    // "Harvix v " and the program's version.
    static QString productLine();

    QLabel* productLabel() const { return product_; }
    QLabel* commentsLabel() const { return comments_; }
    HyperlinkLabel* link() const { return link_; }
    QPushButton* okButton() const { return ok_; }

private:
    QLabel* product_ = nullptr;
    QLabel* comments_ = nullptr;
    HyperlinkLabel* link_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace harvix
