#include "ui/AboutDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/LanguageTexts.h"
#include "controls/HyperlinkLabel.h"
#include "controls/Pictures.h"

namespace harvix {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

QString AboutDialog::productLine() {
    return QStringLiteral("Harvix v ") + QStringLiteral(HARVIX_VERSION);
}

AboutDialog::AboutDialog(const QString& siteUrl, QWidget* parent) : QDialog(parent) {
    const LanguageTexts& texts = theLanguage();
    setWindowTitle(Q(texts.AboutTitle));
    setWindowIcon(pictureIcon(kPictureAppIcon));
    setModal(true);

    auto* picture = new QLabel(this);
    picture->setPixmap(pictureIcon(kPictureAppIcon).pixmap(64, 64));
    picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    product_ = new QLabel(productLine(), this);
    QFont bold = product_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.4);
    product_->setFont(bold);

    // Empty unless the language file fills it; an empty label takes no room.
    comments_ = new QLabel(Q(texts.Comments), this);
    comments_->setWordWrap(true);
    comments_->setMinimumWidth(260);
    comments_->setVisible(!texts.Comments.empty());

    link_ = new HyperlinkLabel(siteUrl, QUrl(siteUrl), this);

    ok_ = new QPushButton(Q(texts.OK), this);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

    auto* textColumn = new QVBoxLayout;
    textColumn->addWidget(product_);
    textColumn->addWidget(comments_);
    textColumn->addSpacing(6);
    textColumn->addWidget(link_);
    textColumn->addStretch(1);

    auto* top = new QHBoxLayout;
    top->addWidget(picture);
    top->addSpacing(12);
    top->addLayout(textColumn, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 12);
    layout->addLayout(top);
    layout->addSpacing(10);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace harvix
