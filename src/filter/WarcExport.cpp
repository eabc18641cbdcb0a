#include "filter/WarcExport.h"

#include <nettle/sha1.h>
#include <zlib.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "base/Text.h"
#include "filter/CombPass.h"
#include "filter/CopyTests.h"
#include "platform/FileHandle.h"
#include "platform/NewFile.h"
#include "platform/Path.h"
#include "readers/BodyCopy.h"
#include "readers/http/ResponseHead.h"

namespace harvix {

namespace {

constexpr std::size_t kChunk = 256 * 1024;

class Sha1 {
public:
    Sha1() { sha1_init(&ctx_); }
    void add(const void* data, std::size_t n) {
        sha1_update(&ctx_, n, static_cast<const uint8_t*>(data));
    }
    void add(std::string_view text) { add(text.data(), text.size()); }
    // The digest as WARC writes it; the digest is then spent.
    std::string text() {
        std::array<uint8_t, SHA1_DIGEST_SIZE> digest{};
        sha1_digest(&ctx_, digest.size(), digest.data());
        // Base 32: five bits per letter; 160 bits make 32 letters, no padding.
        static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
        std::string out = "sha1:";
        uint32_t buffer = 0;
        int bits = 0;
        for (const uint8_t byte : digest) {
            buffer = (buffer << 8) | byte;
            bits += 8;
            while (bits >= 5) {
                out.push_back(kAlphabet[(buffer >> (bits - 5)) & 31]);
                bits -= 5;
            }
        }
        return out;
    }

private:
    sha1_ctx ctx_{};
};

std::string warcDate(std::time_t time) {
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string recordId(std::mt19937_64& random) {
    std::array<uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        const uint64_t value = random();
        for (std::size_t j = 0; j < 8; ++j) {
            bytes[i + j] = static_cast<uint8_t>(value >> (8 * j));
        }
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4: random
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
    char text[48];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return std::string("<urn:uuid:") + text + ">";
}

// A URL from the cache fit for one header line: blanks, control characters,
// angle brackets and bytes outside ASCII become %XX, so that no URL can end
// the line or add a header of its own.
std::string targetUri(std::string_view url) {
    std::string out;
    for (const char ch : url) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte <= 0x20 || byte >= 0x7F || byte == '<' || byte == '>') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            out += escaped;
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

// A stored header's text with any control character but a tab made a blank:
// a stray CR must not split a line of the archived head.
std::string headerText(std::string_view text) {
    std::string out(text);
    for (char& ch : out) {
        const auto byte = static_cast<unsigned char>(ch);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
            ch = ' ';
        }
    }
    return out;
}

// The HTTP part of a response record before its body: the stored status
// line and headers with CR LF line ends, and the blank line.
struct ArchivedHead {
    std::string text;
    bool chunked = false;  // the body is sent again as one chunk
};

std::optional<ArchivedHead> archivedHead(const std::string& raw, std::string& whyNot) {
    const ResponseHead head = parseResponseHead(raw);
    if (raw.empty() || head.status == 0) {
        whyNot = "no stored response head";
        return std::nullopt;
    }
    // Media fetched in ranges is listed only when the cache holds all of
    // it: it is archived as the whole resource, the answer a request
    // without a range gets (status 200, the whole length, no range).
    const std::optional<uint64_t> whole = head.wholeSize();
    if (head.status != 200 && head.status != 203 && !whole) {
        whyNot = "status other than 200 or 203";
        return std::nullopt;
    }
    ArchivedHead archived;
    const std::size_t end = raw.find_first_of(std::string("\r\n\0", 3));
    const std::string statusLine(trim(raw.substr(0, end)));
    archived.text = whole ? headerText(statusLine.substr(0, statusLine.find(' '))) + " 200 OK\r\n"
                          : headerText(statusLine) + "\r\n";
    for (const auto& [name, value] : head.headers) {
        if (whole && (equalsNoCase(trim(name), "Content-Range") ||
                      equalsNoCase(trim(name), "Content-Length"))) {
            continue;
        }
        archived.text += headerText(name) + ": " + headerText(value) + "\r\n";
        // The cache keeps the body without its chunks; as the head says the
        // body is chunked, it is archived as one chunk, which readers undo.
        if (equalsNoCase(trim(name), "Transfer-Encoding") &&
            toLowerAscii(value).find("chunked") != std::string::npos) {
            archived.chunked = true;
        }
    }
    if (whole) {
        archived.text += "Content-Length: " + std::to_string(*whole) + "\r\n";
    }
    archived.text += "\r\n";
    return archived;
}

// The archive being written: records in turn, each a gzip member of its own
// or plain, with the count of bytes written so that a record that cannot be
// completed is cut off again.
class ArchiveFile {
public:
    ArchiveFile(NewFile& file, bool gzip, std::string path)
        : file_(file), gzip_(gzip), path_(std::move(path)) {}
    ~ArchiveFile() {
        if (open_) {
            deflateEnd(&stream_);
        }
    }

    void begin() {
        recordStart_ = written_;
        if (gzip_) {
            stream_ = {};
            if (deflateInit2(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8,
                             Z_DEFAULT_STRATEGY) != Z_OK) {
                fail(ENOMEM);
            }
            open_ = true;
        }
    }
    void add(const void* data, std::size_t n) {
        if (!gzip_) {
            put(data, n);
            return;
        }
        stream_.next_in = static_cast<Bytef*>(const_cast<void*>(data));
        stream_.avail_in = static_cast<uInt>(n);
        pump(Z_NO_FLUSH);
    }
    void add(std::string_view text) { add(text.data(), text.size()); }
    void end() {
        if (gzip_) {
            stream_.avail_in = 0;
            pump(Z_FINISH);
            deflateEnd(&stream_);
            open_ = false;
        }
    }
    // Drops the record begun last.
    void cutRecord() {
        if (open_) {
            deflateEnd(&stream_);
            open_ = false;
        }
        if (const int error = cutBackError(file_.fd(), recordStart_); error != 0) {
            fail(error);
        }
        written_ = recordStart_;
    }

private:
    void pump(int flush) {
        std::array<unsigned char, 64 * 1024> out{};
        for (;;) {
            stream_.next_out = out.data();
            stream_.avail_out = static_cast<uInt>(out.size());
            const int status = deflate(&stream_, flush);
            if (status == Z_STREAM_ERROR) {
                fail(EIO);
            }
            put(out.data(), out.size() - stream_.avail_out);
            if (flush == Z_FINISH ? status == Z_STREAM_END
                                  : stream_.avail_in == 0 && stream_.avail_out != 0) {
                return;
            }
        }
    }
    void put(const void* data, std::size_t n) {
        if (n == 0) {
            return;
        }
        if (const int error = writeAllError(file_.fd(), data, n); error != 0) {
            fail(error);
        }
        written_ += n;
    }
    [[noreturn]] void fail(int error) const {
        throw ErrorReport(ErrorReport::FilterCache, ErrorReport::FileWrite, path_, {}, error);
    }

    NewFile& file_;
    bool gzip_;
    std::string path_;
    z_stream stream_{};
    bool open_ = false;
    uint64_t written_ = 0;
    uint64_t recordStart_ = 0;
};

// Reads the stored bytes of `source` from `body` in chunks, handing each to
// `take`; throws ErrorReport FileRead when the file ends early or a read
// fails, or a piece of a body stored in pieces does not match its CRC-32.
template <typename Take>
void readStored(const FileHandle& body, const BodySource& source, Take take) {
    std::vector<unsigned char> buffer(kChunk);
    const auto failRead = [&source](int error) {
        throw ErrorReport(ErrorReport::FilterCache, ErrorReport::FileRead, pathToUtf8(source.file),
                          {}, error);
    };
    for (const BodyPiece& piece : storedPieces(source)) {
        uLong crc = crc32(0, nullptr, 0);
        for (uint64_t done = 0; done < piece.length;) {
            const auto want =
                static_cast<std::size_t>(std::min<uint64_t>(kChunk, piece.length - done));
            const int error = body.readExactError(piece.offset + done, buffer.data(), want);
            if (error != 0) {
                failRead(error == EIO ? ENODATA : error);
            }
            crc = crc32(crc, buffer.data(), static_cast<uInt>(want));
            take(buffer.data(), want);
            done += want;
        }
        if (!source.pieces.empty() && piece.crc32 && crc != *piece.crc32) {
            failRead(EBUSY);
        }
    }
}

std::string chunkSizeLine(uint64_t size) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx\r\n", static_cast<unsigned long long>(size));
    return text;
}

}  // namespace

bool isPlainWarcName(const std::string& file) {
    return file.size() >= 5 &&
           equalsNoCase(std::string_view(file).substr(file.size() - 5), ".warc");
}

std::string warcSha1(std::string_view bytes) {
    Sha1 sha;
    sha.add(bytes);
    return sha.text();
}

WarcExportResult exportWarc(const CacheReader& reader, std::span<const CacheEntry* const> entries,
                            const std::string& file, const WarcOptions& options) {
    const fs::path target = pathFromUtf8(file);
    const fs::path folder = target.parent_path();
    const std::string name = pathToUtf8(target.filename());
    for (const fs::path& cache : reader.cacheFolders()) {
        if (!cache.empty() && isAtOrBelow(target, cache)) {
            throw ErrorReport(ErrorReport::FilterCache, ErrorReport::TargetInCache, file,
                              pathToUtf8(cache));
        }
    }
    std::error_code ec;
    if (fs::exists(fs::symlink_status(target, ec))) {
        throw ErrorReport(ErrorReport::FilterCache, ErrorReport::FileWrite, file, {}, EEXIST);
    }
    NewFile out = NewFile::create(folder);
    if (!out) {
        throw ErrorReport(ErrorReport::FilterCache, ErrorReport::CreateFolder, pathToUtf8(folder),
                          {}, out.error());
    }
    ArchiveFile archive(out, options.gzip, file);
    std::random_device seed;
    std::mt19937_64 random((uint64_t{seed()} << 32) ^ seed());

    WarcExportResult result;
    const std::string infoId = recordId(random);
    {
        const std::string fields =
            "software: " + headerText(options.software) + "\r\nformat: WARC File Format 1.1\r\n" +
            (options.description.empty()
                 ? std::string()
                 : "description: " + headerText(options.description) + "\r\n");
        archive.begin();
        archive.add("WARC/1.1\r\nWARC-Type: warcinfo\r\nWARC-Record-ID: " + infoId +
                    "\r\nWARC-Date: " + warcDate(options.now) +
                    "\r\nWARC-Filename: " + headerText(name) +
                    "\r\nContent-Type: application/warc-fields\r\nContent-Length: " +
                    std::to_string(fields.size()) + "\r\n\r\n" + fields + "\r\n\r\n");
        archive.end();
    }

    const bool asSent = reader.bodiesAsSent();
    for (const CacheEntry* entry : entries) {
        if (options.filter != nullptr) {
            try {
                if (!itemsTakeEntry(reader, *entry, *options.filter, folder)) {
                    continue;
                }
            } catch (const ErrorReport& report) {
                // An entry of size 0 without bytes holds no picture: not
                // taken, as a comb leaves it out.
                if (entry->size != 0) {
                    ++result.failed[copyFailureReason(report)];
                }
                continue;
            }
        }
        std::string whyNot = "body not stored as sent";
        const std::optional<ArchivedHead> head =
            asSent ? archivedHead(reader.responseHead(*entry), whyNot) : std::nullopt;
        if (!head) {
            ++result.leftOut[whyNot];
            continue;
        }
        try {
            const BodySource source = reader.bodySource(*entry);
            const std::shared_ptr<const FileHandle> body = openBody(reader, source);
            // A body the head calls chunked is archived as one chunk.
            std::string chunkHead;
            std::string chunkTail;
            if (head->chunked) {
                chunkHead = source.length > 0 ? chunkSizeLine(source.length) : "";
                chunkTail = source.length > 0 ? "\r\n0\r\n\r\n" : "0\r\n\r\n";
            }
            // First the digests (and the cache's own checksum, where it
            // keeps one), then the record: a WARC header names its digests.
            Sha1 block;
            Sha1 payload;
            uLong crc = crc32(0, nullptr, 0);
            block.add(head->text);
            block.add(chunkHead);
            readStored(*body, source, [&](const unsigned char* data, std::size_t n) {
                block.add(data, n);
                payload.add(data, n);
                crc = crc32(crc, data, static_cast<uInt>(n));
            });
            block.add(chunkTail);
            if (source.crc32 && crc != *source.crc32) {
                throw ErrorReport(ErrorReport::FilterCache, ErrorReport::FileRead,
                                  pathToUtf8(source.file), {}, EBUSY);
            }
            const std::string blockDigest = block.text();
            const std::string payloadDigest = payload.text();
            const uint64_t blockSize =
                head->text.size() + chunkHead.size() + source.length + chunkTail.size();
            archive.begin();
            archive.add(
                "WARC/1.1\r\nWARC-Type: response\r\nWARC-Record-ID: " + recordId(random) +
                "\r\nWARC-Warcinfo-ID: " + infoId +
                "\r\nWARC-Target-URI: " + targetUri(entry->url) + "\r\nWARC-Date: " +
                warcDate(entry->time > 0 ? static_cast<std::time_t>(entry->time) : options.now) +
                "\r\nWARC-Payload-Digest: " + payloadDigest +
                "\r\nWARC-Block-Digest: " + blockDigest +
                "\r\nContent-Type: application/http;msgtype=response\r\nContent-Length: " +
                std::to_string(blockSize) + "\r\n\r\n" + head->text + chunkHead);
            // The bytes again, as written: when they changed since they were
            // digested (the browser rewrote the entry) or cannot be read
            // now, the record goes.
            try {
                Sha1 again;
                readStored(*body, source, [&](const unsigned char* data, std::size_t n) {
                    again.add(data, n);
                    archive.add(data, n);
                });
                if (again.text() != payloadDigest) {
                    throw ErrorReport(ErrorReport::FilterCache, ErrorReport::FileRead,
                                      pathToUtf8(source.file), {}, EBUSY);
                }
            } catch (const ErrorReport& report) {
                if (report.kind() != ErrorReport::FileWrite) {
                    archive.cutRecord();
                }
                throw;
            }
            archive.add(chunkTail + "\r\n\r\n");
            archive.end();
            ++result.records;
        } catch (const ErrorReport& report) {
            if (report.kind() == ErrorReport::FileWrite) {
                throw;  // the archive itself: nothing is kept
            }
            ++result.failed[copyFailureReason(report)];
        }
    }
    if (!out.linkAs(name)) {
        throw ErrorReport(ErrorReport::FilterCache, ErrorReport::FileWrite, file, {}, out.error());
    }
    result.path = file;
    return result;
}

}  // namespace harvix
