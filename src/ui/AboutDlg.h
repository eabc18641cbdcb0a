// The about box: the product name with its version, the language's
// comments text and a link to the maker's web site.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class CHyperlinkLabel;

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    // `siteUrl` is the address the link opens.
    explicit CAboutDlg(const QString& siteUrl, QWidget* parent = nullptr);

    // "Harvix v " and the program's version.
    static QString ProductLine();

    QLabel* ProductLabel() const { return product_; }
    QLabel* CommentsLabel() const { return comments_; }
    CHyperlinkLabel* Link() const { return link_; }
    QPushButton* OkButton() const { return ok_; }

private:
    QLabel* product_ = nullptr;
    QLabel* comments_ = nullptr;
    CHyperlinkLabel* link_ = nullptr;
    QPushButton* ok_ = nullptr;
};
