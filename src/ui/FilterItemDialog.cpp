#include "ui/FilterItemDialog.h"

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

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QLineEdit* Edit(QWidget* parent, const char* name) {
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
            names.append(Text(contentTypeName(code)));
        }
        return names;
    }();
    return order;
}

int32_t FilterItemDialog::readNumber(const QString& text) {
    const int64_t value = leadingInteger(text.toStdString());
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

FilterItemDialog::FilterItemDialog(const QString& title, FilterItem* item, QWidget* parent)
    : QDialog(parent), item_(item) {
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
    minSize = Edit(this, "minSize");
    urlLabel = new QLabel(this);
    url = Edit(this, "url");
    minWidthLabel = new QLabel(this);
    minWidth = Edit(this, "minWidth");
    minHeightLabel = new QLabel(this);
    minHeight = Edit(this, "minHeight");
    directoryLabel = new QLabel(this);
    directoryTemplate = Edit(this, "directoryTemplate");
    directoryBrowse = new QPushButton(QStringLiteral("..."), this);
    directoryBrowse->setObjectName(QStringLiteral("directoryBrowse"));
    directoryBrowse->setAutoDefault(false);
    directoryBrowse->setFixedWidth(directoryBrowse->fontMetrics().height() + 18);
    fileNameDummyLabel = new QLabel(this);
    fileNameDummy = Edit(this, "fileNameDummy");

    const std::pair<QLabel*, QWidget*> rows[] = {{contentTypeLabel, contentType},
                                                 {minSizeLabel, minSize},
                                                 {urlLabel, url},
                                                 {minWidthLabel, minWidth},
                                                 {minHeightLabel, minHeight},
                                                 {directoryLabel, directoryTemplate},
                                                 {fileNameDummyLabel, fileNameDummy}};
    auto* grid = new QGridLayout;
    int row = 0;
    for (const auto& [label, field] : rows) {
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1, 1, field == directoryTemplate ? 1 : 2);
        ++row;
    }
    grid->addWidget(directoryBrowse, 5, 2);
    grid->setColumnStretch(1, 1);
    // The numbers and the stem are short; the URL and the folder get the room.
    const int narrow = fontMetrics().averageCharWidth() * 16;
    for (QWidget* field : {static_cast<QWidget*>(contentType), static_cast<QWidget*>(minSize),
                           static_cast<QWidget*>(minWidth), static_cast<QWidget*>(minHeight),
                           static_cast<QWidget*>(fileNameDummy)}) {
        field->setMaximumWidth(narrow);
        field->setMinimumWidth(narrow);
    }

    auto* buttons = makeOkCancelButtons(this, okButton, cancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(6);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    url->setMinimumWidth(fontMetrics().averageCharWidth() * 40);

    connect(buttons, &QDialogButtonBox::accepted, this, &FilterItemDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FilterItemDialog::reject);
    connect(directoryBrowse, &QPushButton::clicked, this, &FilterItemDialog::browse);
}

void FilterItemDialog::initialise() {
    const LanguageTexts& texts = theLanguage();
    okButton->setText(Text(texts.OK));
    cancelButton->setText(Text(texts.Cancel));
    contentTypeLabel->setText(Text(texts.FilterListContentType));
    minSizeLabel->setText(Text(texts.FilterListMinSize));
    urlLabel->setText(Text(texts.FilterListURL));
    minWidthLabel->setText(Text(texts.FilterListMinWidth));
    minHeightLabel->setText(Text(texts.FilterListMinHeight));
    directoryLabel->setText(Text(texts.FilterListDirectory));
    fileNameDummyLabel->setText(Text(texts.FilterListFileNameDummy));

    contentType->clear();
    for (const int32_t code : contentTypeListOrder()) {
        contentType->addItem(Text(contentTypeName(code)), code);
    }
    // A code no type has (a damaged file) shows as "all".
    const int current = contentType->findData(item_->contentType);
    contentType->setCurrentIndex(current >= 0 ? current
                                              : contentType->findData(codeOf(ContentType::All)));

    minSize->setText(QString::number(item_->minSize));
    url->setText(Text(item_->url));
    url->setCursorPosition(0);
    minWidth->setText(QString::number(item_->minWidth));
    minHeight->setText(QString::number(item_->minHeight));
    directoryTemplate->setText(Text(item_->directoryTemplate));
    directoryTemplate->setCursorPosition(0);
    fileNameDummy->setText(Text(item_->fileNameDummy));
}

void FilterItemDialog::browse() {
    QString chosen;
    if (browseForFolder(this, directoryTemplate->text(), Text(theLanguage().BrowseDirectory),
                        chosen) == kFolderChosen) {
        directoryTemplate->setText(chosen);
        directoryTemplate->setCursorPosition(0);
    }
}

void FilterItemDialog::warn(const QString& name, const QString& text, QWidget* field) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Harvix"), text, QMessageBox::Ok, this);
    box.setObjectName(name);
    box.button(QMessageBox::Ok)->setText(Text(theLanguage().OK));
    box.exec();
    field->setFocus(Qt::OtherFocusReason);
}

void FilterItemDialog::accept() {
    const LanguageTexts& texts = theLanguage();
    const std::string folder = directoryTemplate->text().toStdString();
    // The rule applies to the text as typed: %DATE% and %TIME% stay unexpanded.
    if (!FilterSet::isValidTargetPath(folder, platformServices())) {
        warn(QStringLiteral("folderRuleMessage"), Text(texts.ErrorDirectory), directoryTemplate);
        return;
    }
    // The stem is the start of every saved file's name: '/' would make it a
    // path. Any other character (a backslash included) is an ordinary
    // file-name character here.
    const QString stem = fileNameDummy->text();
    if (stem.contains(QLatin1Char('/')) || stem.contains(QChar(0))) {
        warn(QStringLiteral("stemRuleMessage"),
             QStringLiteral("%1: /").arg(Text(texts.FilterListFileNameDummy)), fileNameDummy);
        return;
    }
    item_->directoryTemplate = folder;
    item_->contentType = contentType->currentData().toInt();
    item_->minSize = readNumber(minSize->text());
    item_->url = url->text().toStdString();
    item_->minWidth = readNumber(minWidth->text());
    item_->minHeight = readNumber(minHeight->text());
    item_->fileNameDummy = fileNameDummy->text().toStdString();
    QDialog::accept();
}

}  // namespace harvix
