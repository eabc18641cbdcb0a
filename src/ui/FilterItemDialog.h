// The filter editor: sets up one filter item (content type, minimum size,
// URL parts, minimum picture width and height, target folder, file-name
// stem). The item is changed in place, and only on OK with a target folder
// that passes the folder rule.
#pragma once

#include <QDialog>
#include <QString>

#include "filter/FilterSet.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace harvix {

class FilterItemDialog : public QDialog {
    Q_OBJECT

public:
    // `title` is the caption ("Add" or "Edit" in the user's language);
    // `item` is edited in place and must outlive the dialog.
    FilterItemDialog(const QString& title, FilterItem* item, QWidget* parent = nullptr);

    // The content-type names in list order.
    static const QStringList& contentTypeOrder();
    // A number as the editor reads it: leading blanks, an optional sign and
    // decimal digits; no digits give 0, and numbers beyond the 32-bit range
    // are held at its ends.
    static int32_t readNumber(const QString& text);

    // Controls.
    QLabel* contentTypeLabel = nullptr;
    QComboBox* contentType = nullptr;
    QLabel* minSizeLabel = nullptr;
    QLineEdit* minSize = nullptr;
    QLabel* urlLabel = nullptr;
    QLineEdit* url = nullptr;
    QLabel* minWidthLabel = nullptr;
    QLineEdit* minWidth = nullptr;
    QLabel* minHeightLabel = nullptr;
    QLineEdit* minHeight = nullptr;
    QLabel* directoryLabel = nullptr;
    QLineEdit* directoryTemplate = nullptr;
    QPushButton* directoryBrowse = nullptr;
    QLabel* fileNameDummyLabel = nullptr;
    QLineEdit* fileNameDummy = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;

public slots:
    // Checks the folder and the stem and writes the item back; refuses a
    // folder that fails the folder rule, or a stem holding '/', with a
    // warning box and stays open.
    void accept() override;

private:
    void buildControls();
    void initialise();
    void browse();
    // A warning box named `name` (for the tests); the focus then goes to `field`.
    void warn(const QString& name, const QString& text, QWidget* field);

    FilterItem* item_;
};

}  // namespace harvix
