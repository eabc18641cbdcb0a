#include "ui/FilterItemDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "app/LanguageTexts.h"
#include "base/ContentType.h"
#include "base/Text.h"
#include "platform/Platform.h"
#include "ui/DialogButtons.h"
#include "ui/FolderChooser.h"
#include "ui/ProgramState.h"

namespace harvix {

namespace {

QString qtText(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QLineEdit* makeEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

}  // namespace

const QStringList& FilterItemDialog::contentTypeOrder() {
    // The groups first, then pictures, video, sound, documents and the
    // rest; each name is the short name of its content-type code.
    static const QStringList order = [] {
        QStringList names;
        for (const int32_t code : contentTypeListOrder()) {
            names.append(qtText(contentTypeName(code)));
        }
        return names;
    }();
    return order;
}

std::optional<int32_t> FilterItemDialog::readSize(const QString& text) {
    if (text.trimmed().isEmpty()) {
        return 0;
    }
    const std::optional<int64_t> bytes = parseByteSize(text.toStdString());
    if (!bytes || *bytes > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(*bytes);
}

std::optional<int32_t> FilterItemDialog::readPixels(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return 0;
    }
    for (const QChar ch : trimmed) {
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9')) {
            return std::nullopt;
        }
    }
    bool ok = false;
    const int value = trimmed.toInt(&ok);
    return ok ? std::optional<int32_t>(value) : std::nullopt;
}

FilterItemDialog::FilterItemDialog(const QString& title, FilterItem* item, QWidget* parent,
                                   const ItemPlace& place)
    : QDialog(parent), item_(item), place_(place) {
    setObjectName(QStringLiteral("editFilterDialog"));
    setWindowTitle(title);
    buildControls();
    initialise();
}

void FilterItemDialog::buildControls() {
    contentTypeLabel = new QLabel(this);
    contentType = new QComboBox(this);
    contentType->setObjectName(QStringLiteral("contentType"));
    contentType->setEditable(false);
    minSizeLabel = new QLabel(this);
    minSize = makeEdit(this, "minSize");
    urlLabel = new QLabel(this);
    url = makeEdit(this, "url");
    minWidthLabel = new QLabel(this);
    minWidth = makeEdit(this, "minWidth");
    minHeightLabel = new QLabel(this);
    minHeight = makeEdit(this, "minHeight");
    directoryLabel = new QLabel(this);
    directoryTemplate = makeEdit(this, "directoryTemplate");
    directoryBrowse = new QPushButton(QStringLiteral("..."), this);
    directoryBrowse->setObjectName(QStringLiteral("directoryBrowse"));
    directoryBrowse->setAutoDefault(false);
    directoryBrowse->setFixedWidth(directoryBrowse->fontMetrics().height() + 18);
    stemLabel = new QLabel(this);
    stemEdit = makeEdit(this, "stem");
    siteTree = new QCheckBox(this);
    siteTree->setObjectName(QStringLiteral("siteTree"));

    const std::pair<QLabel*, QWidget*> rows[] = {{contentTypeLabel, contentType},
                                                 {minSizeLabel, minSize},
                                                 {urlLabel, url},
                                                 {minWidthLabel, minWidth},
                                                 {minHeightLabel, minHeight},
                                                 {directoryLabel, directoryTemplate},
                                                 {stemLabel, stemEdit}};
    auto* grid = new QGridLayout;
    int row = 0;
    for (const auto& [label, field] : rows) {
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1, 1, field == directoryTemplate ? 1 : 2);
        ++row;
    }
    grid->addWidget(directoryBrowse, 5, 2);
    grid->addWidget(siteTree, row, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    // The numbers and the stem are short; the URL and the folder get the room.
    const int narrow = fontMetrics().averageCharWidth() * 16;
    for (QWidget* field : {static_cast<QWidget*>(contentType), static_cast<QWidget*>(minSize),
                           static_cast<QWidget*>(minWidth), static_cast<QWidget*>(minHeight),
                           static_cast<QWidget*>(stemEdit)}) {
        field->setMaximumWidth(narrow);
        field->setMinimumWidth(narrow);
    }

    takenNote = new QLabel(this);
    takenNote->setObjectName(QStringLiteral("takenNote"));
    takenNote->setWordWrap(true);
    takenNote->hide();

    auto* buttons = makeOkCancelButtons(this, okButton, cancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(takenNote);
    layout->addSpacing(6);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    url->setMinimumWidth(fontMetrics().averageCharWidth() * 40);

    connect(buttons, &QDialogButtonBox::accepted, this, &FilterItemDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FilterItemDialog::reject);
    connect(directoryBrowse, &QPushButton::clicked, this, &FilterItemDialog::browse);
    connect(contentType, &QComboBox::currentIndexChanged, this, &FilterItemDialog::updateTakenNote);
    connect(url, &QLineEdit::textChanged, this, &FilterItemDialog::updateTakenNote);
}

void FilterItemDialog::initialise() {
    const LanguageTexts& texts = theLanguage();
    okButton->setText(qtText(texts.OK));
    cancelButton->setText(qtText(texts.Cancel));
    contentTypeLabel->setText(qtText(texts.FilterListContentType));
    minSizeLabel->setText(qtText(texts.FilterListMinSize));
    urlLabel->setText(qtText(texts.FilterListURL));
    minWidthLabel->setText(qtText(texts.FilterListMinWidth));
    minHeightLabel->setText(qtText(texts.FilterListMinHeight));
    directoryLabel->setText(qtText(texts.FilterListDirectory));
    stemLabel->setText(qtText(texts.FilterListFileNameDummy));
    siteTree->setText(qtText(texts.FilterListSiteTree));

    contentType->clear();
    for (const int32_t code : contentTypeListOrder()) {
        contentType->addItem(qtText(contentTypeName(code)), code);
    }
    // A code no type has (a damaged file) shows as "all".
    const int current = contentType->findData(item_->contentType);
    contentType->setCurrentIndex(current >= 0 ? current
                                              : contentType->findData(codeOf(ContentType::All)));

    minSize->setText(QString::number(item_->minSize));
    url->setText(qtText(item_->url));
    url->setCursorPosition(0);
    minWidth->setText(QString::number(item_->minWidth));
    minHeight->setText(QString::number(item_->minHeight));
    directoryTemplate->setText(qtText(item_->directoryTemplate));
    directoryTemplate->setCursorPosition(0);
    stemEdit->setText(qtText(item_->stem));
    siteTree->setChecked(item_->siteTree);
    updateTakenNote();
}

void FilterItemDialog::updateTakenNote() {
    int earlier = -1;
    if (place_.set != nullptr && place_.oneCopy) {
        // The item as it would be saved now, its URL parts split as the set
        // splits them.
        FilterItem edited;
        edited.contentType = contentType->currentData().toInt();
        edited.url = url->text().toStdString();
        edited.parseUrl(*place_.set);
        earlier = place_.set->earlierItemTaking(edited, place_.position);
    }
    if (earlier < 0) {
        takenNote->hide();
        return;
    }
    // Items are numbered from 1 as the user counts the rows.
    const FilterItem& taking = *place_.set->items[static_cast<std::size_t>(earlier)];
    takenNote->setText(
        qtText(theLanguage().NoteTakenEarlier)
            .replace(QStringLiteral("%1"), QString::number(earlier + 1))
            .replace(QStringLiteral("%2"), qtText(contentTypeName(taking.contentType))));
    takenNote->show();
}

void FilterItemDialog::browse() {
    QString chosen;
    if (browseForFolder(this, directoryTemplate->text(), qtText(theLanguage().BrowseDirectory),
                        chosen) == kFolderChosen) {
        directoryTemplate->setText(chosen);
        directoryTemplate->setCursorPosition(0);
    }
}

void FilterItemDialog::warn(const QString& name, const QString& text, QWidget* field) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Harvix"), text, QMessageBox::Ok, this);
    box.setObjectName(name);
    box.button(QMessageBox::Ok)->setText(qtText(theLanguage().OK));
    box.exec();
    field->setFocus(Qt::OtherFocusReason);
}

void FilterItemDialog::accept() {
    const LanguageTexts& texts = theLanguage();
    const std::optional<int32_t> size = readSize(minSize->text());
    if (!size) {
        warn(QStringLiteral("sizeMessage"), qtText(texts.ErrorSize), minSize);
        return;
    }
    const std::optional<int32_t> width = readPixels(minWidth->text());
    const std::optional<int32_t> height = readPixels(minHeight->text());
    if (!width || !height) {
        warn(QStringLiteral("pixelsMessage"),
             QStringLiteral("%1: %2").arg(
                 qtText(!width ? texts.FilterListMinWidth : texts.FilterListMinHeight),
                 qtText(texts.ErrorPixels)),
             !width ? minWidth : minHeight);
        return;
    }
    const std::string folder = directoryTemplate->text().toStdString();
    // The rule applies to the text as typed: %DATE% and %TIME% stay unexpanded.
    using Problem = FilterSet::PathProblem;
    const Problem problem = FilterSet::targetPathProblem(folder, platformServices());
    if (problem != Problem::None) {
        const std::string& reason = problem == Problem::Empty         ? texts.ErrorDirectoryEmpty
                                    : problem == Problem::NotAbsolute ? texts.ErrorDirectoryRelative
                                    : problem == Problem::Root        ? texts.ErrorDirectoryRoot
                                                               : texts.ErrorDirectoryNotLocal;
        warn(QStringLiteral("folderRuleMessage"), qtText(texts.ErrorDirectory + "\n" + reason),
             directoryTemplate);
        return;
    }
    // The stem is the start of every saved file's name: '/' would make it a
    // path. Any other character (a backslash included) is an ordinary
    // file-name character here.
    const QString stem = stemEdit->text();
    if (stem.contains(QLatin1Char('/')) || stem.contains(QChar(0))) {
        warn(QStringLiteral("stemRuleMessage"),
             QStringLiteral("%1: /").arg(qtText(texts.FilterListFileNameDummy)), stemEdit);
        return;
    }
    item_->directoryTemplate = folder;
    item_->contentType = contentType->currentData().toInt();
    item_->minSize = *size;
    item_->url = url->text().toStdString();
    item_->minWidth = *width;
    item_->minHeight = *height;
    item_->stem = stemEdit->text().toStdString();
    item_->siteTree = siteTree->isChecked();
    QDialog::accept();
}

}  // namespace harvix
