// The filter editor: sets up one filter item (content type, minimum size,
// URL parts, minimum picture width and height, target folder, file-name
// stem). The item is changed in place, and only on OK with values it can
// read and a target folder that passes the folder rule; what it refuses it
// says, with the reason.
#pragma once

#include <QDialog>
#include <QString>
#include <cstddef>
#include <optional>

#include "filter/FilterSet.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace harvix {

// Where the edited item stands: its set and the index it has (or, for a new
// item, will have), and whether One Copy is on. With it the editor says
// when an earlier item takes the item's entries first.
struct ItemPlace {
    const FilterSet* set = nullptr;
    std::size_t position = 0;
    bool oneCopy = false;
};

class FilterItemDialog : public QDialog {
    Q_OBJECT

public:
    // `title` is the caption ("Add" or "Edit" in the user's language);
    // `item` is edited in place and must outlive the dialog.
    FilterItemDialog(const QString& title, FilterItem* item, QWidget* parent = nullptr,
                     const ItemPlace& place = {});

    // The content-type names in list order.
    static const QStringList& contentTypeOrder();
    // The minimum size as people write it ("2048", "100k", "2 MB"; see
    // parseByteSize), an empty field being 0; nothing when it cannot be
    // read or passes what a filter file keeps (2 GiB - 1).
    static std::optional<int32_t> readSize(const QString& text);
    // A picture width or height: a whole number of pixels, an empty field
    // being 0; nothing for anything else.
    static std::optional<int32_t> readPixels(const QString& text);

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
    QLabel* stemLabel = nullptr;
    QLineEdit* stemEdit = nullptr;
    // Saves each file at its URL's path below the folder (the item's siteTree).
    QCheckBox* siteTree = nullptr;
    // Says which earlier item takes the entries first (One Copy); hidden
    // when none does.
    QLabel* takenNote = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;

public slots:
    // Checks the numbers, the folder and the stem and writes the item back;
    // refuses a number it cannot read, a folder that fails the folder rule
    // (saying which part) or a stem holding '/' with a warning box and
    // stays open.
    void accept() override;

private:
    void buildControls();
    void initialise();
    void browse();
    void updateTakenNote();
    // A warning box named `name` (for the tests); the focus then goes to `field`.
    void warn(const QString& name, const QString& text, QWidget* field);

    FilterItem* item_;
    ItemPlace place_;
};

}  // namespace harvix
