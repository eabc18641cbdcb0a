#include "ui/EntryPreview.h"

#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QVBoxLayout>
#include <exception>
#include <span>
#include <string>

#include "base/ContentType.h"
#include "platform/FileHandle.h"
#include "readers/BodyCopy.h"
#include "readers/CacheReader.h"
#include "readers/http/BodyDecoder.h"

namespace harvix {

namespace {

// Draws a picture scaled to fit, keeping its proportions; never larger than
// the picture itself.
class PictureView : public QWidget {
public:
    explicit PictureView(const QImage& picture, QWidget* parent)
        : QWidget(parent), picture_(picture) {
        setMinimumSize(64, 64);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (picture_.isNull()) {
            return;
        }
        QSize size = picture_.size();
        if (size.width() > width() || size.height() > height()) {
            size.scale(this->size(), Qt::KeepAspectRatio);
        }
        const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2),
                           size);
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, picture_);
    }

private:
    const QImage& picture_;
};

bool isPicture(const CacheEntry& entry) {
    return contentTypeMatches(codeOf(ContentType::Pictures), entry.contentType,
                              entry.contentTypeText);
}

bool isText(const CacheEntry& entry) {
    switch (static_cast<ContentType>(entry.contentType)) {
        case ContentType::Html:
        case ContentType::Xml:
        case ContentType::Css:
        case ContentType::Js:
        case ContentType::Plain:
        case ContentType::Json:
            return true;
        default:
            break;
    }
    const std::string& type = entry.contentTypeText;
    return type.rfind("text/", 0) == 0 || type.find("json") != std::string::npos ||
           type.find("javascript") != std::string::npos || type.find("+xml") != std::string::npos;
}

}  // namespace

std::optional<QByteArray> readEntryBody(const CacheReader& reader, const CacheEntry& entry,
                                        uint64_t limit) {
    BodySource source;
    try {
        source = reader.bodySource(entry);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (source.length > limit || source.encoding == ContentEncoding::Unsupported) {
        return std::nullopt;
    }
    // The same rules as a copy: the file must lie below the cache folder,
    // be a regular file reached without links and hold the whole range.
    std::shared_ptr<const FileHandle> file;
    try {
        file = openBody(reader, source);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const FileHandle& in = *file;
    QByteArray stored(static_cast<qsizetype>(source.length), Qt::Uninitialized);
    qsizetype at = 0;
    for (const BodyPiece& piece : storedPieces(source)) {
        if (!in.readExactAt(piece.offset, stored.data() + at,
                            static_cast<std::size_t>(piece.length))) {
            return std::nullopt;
        }
        at += static_cast<qsizetype>(piece.length);
    }
    if (source.encoding == ContentEncoding::Identity) {
        return stored;
    }
    // Decoded as a comb decodes, and never past the same bound.
    QByteArray decoded;
    BodyDecoder decoder(source.encoding, limit);
    const BodyDecoder::Sink sink = [&decoded](std::span<const unsigned char> bytes) {
        decoded.append(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<qsizetype>(bytes.size()));
        return true;
    };
    const auto* bytes = reinterpret_cast<const unsigned char*>(stored.constData());
    if (!decoder.feed({bytes, static_cast<std::size_t>(stored.size())}, sink) ||
        !decoder.finish()) {
        return std::nullopt;
    }
    return decoded;
}

EntryPreview::EntryPreview(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    summary_ = new QLabel(this);
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* split = new QSplitter(Qt::Vertical, this);
    pictureView_ = new PictureView(picture_, split);
    text_ = new QPlainTextEdit(split);
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text_->setFont(QFont(QStringLiteral("monospace")));
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    layout->addWidget(summary_);
    layout->addWidget(split, 1);
    clear();
}

void EntryPreview::setTexts(const QString& tooLarge, const QString& unreadable) {
    tooLarge_ = tooLarge;
    unreadable_ = unreadable;
}

void EntryPreview::clear() {
    picture_ = QImage();
    summary_->clear();
    text_->clear();
    text_->show();
    pictureView_->hide();
    pictureView_->update();
}

QString EntryPreview::text() const {
    return text_->toPlainText();
}

QString EntryPreview::summary() const {
    return summary_->text();
}

void EntryPreview::showEntry(const CacheReader* reader, const CacheEntry* entry) {
    clear();
    if (reader == nullptr || entry == nullptr) {
        return;
    }
    const bool picture = isPicture(*entry);
    const bool text = isText(*entry);
    QString summary = QString::fromStdString(entry->url) + QLatin1Char('\n') +
                      QString::fromStdString(entry->contentTypeText) + QStringLiteral(" \u2014 ") +
                      QLocale().formattedDataSize(static_cast<qint64>(entry->size));
    QString shown;
    if (picture || text) {
        const uint64_t limit = picture ? kPictureLimit : kOtherLimit;
        const std::optional<QByteArray> body = readEntryBody(*reader, *entry, limit);
        if (!body) {
            summary += QStringLiteral("\n") +
                       (static_cast<uint64_t>(entry->size) > limit ? tooLarge_ : unreadable_);
        } else if (picture) {
            picture_ = QImage::fromData(*body);
            if (picture_.isNull()) {
                summary += QStringLiteral("\n") + unreadable_;
            } else {
                summary += QStringLiteral(" \u2014 %1 \u00d7 %2")
                               .arg(picture_.width())
                               .arg(picture_.height());
                pictureView_->show();
            }
        } else {
            shown = QString::fromUtf8(body->left(kTextShown));
            if (body->size() > kTextShown) {
                shown += QStringLiteral("\n\u2026");
            }
        }
    }
    // The response headers where the cache keeps them, above the text.
    const std::string head = reader->responseHead(*entry);
    if (!head.empty()) {
        QString headers = QString::fromStdString(head).trimmed();
        headers.replace(QLatin1Char('\0'), QLatin1Char('\n'));
        shown = shown.isEmpty() ? headers : headers + QStringLiteral("\n\n") + shown;
    }
    summary_->setText(summary);
    text_->setPlainText(shown);
    text_->setVisible(!shown.isEmpty() || picture_.isNull());
    pictureView_->update();
}

}  // namespace harvix
