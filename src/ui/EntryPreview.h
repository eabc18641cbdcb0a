// The preview beside the cache window's table: what the selected entry is.
// Pictures are drawn scaled to fit; text types show their first kilobytes;
// the response headers show where the cache keeps them. The body is read into
// memory only, decoded as a comb decodes it, and bounded: pictures above
// 50 MB and other bodies above 1 MB show their size only.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <optional>

class QLabel;
class QPlainTextEdit;

namespace harvix {

class CacheReader;
struct CacheEntry;

// The stored body of `entry`, decoded, when it holds at most `limit` bytes
// (stored and decoded); nothing when it is larger or cannot be read.
std::optional<QByteArray> readEntryBody(const CacheReader& reader, const CacheEntry& entry,
                                        uint64_t limit);

class EntryPreview : public QWidget {
    Q_OBJECT

public:
    static constexpr uint64_t kPictureLimit = uint64_t{50} << 20;
    static constexpr uint64_t kOtherLimit = uint64_t{1} << 20;
    // Bytes of a text body shown.
    static constexpr int kTextShown = 8 * 1024;

    explicit EntryPreview(QWidget* parent = nullptr);

    // Shows `entry` of `reader`'s reading; null shows nothing.
    void showEntry(const CacheReader* reader, const CacheEntry* entry);
    void clear();

    // What is shown, for the tests and the screenshot.
    const QImage& picture() const { return picture_; }
    QString text() const;
    QString summary() const;

    // Texts of the few words the preview writes itself.
    void setTexts(const QString& tooLarge, const QString& unreadable);

private:
    QLabel* summary_ = nullptr;
    QWidget* pictureView_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
    QImage picture_;
    QString tooLarge_ = QStringLiteral("Too large for a preview");
    QString unreadable_ = QStringLiteral("The stored data cannot be read");
};

}  // namespace harvix
