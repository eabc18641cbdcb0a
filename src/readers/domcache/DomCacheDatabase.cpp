#include "readers/domcache/DomCacheDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <memory>

#include "base/Text.h"
#include "readers/domcache/DomCacheFormat.h"

namespace harvix::domcache {

namespace {

struct CloseDatabase {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// A damaged or hostile database may make a query run long (a loop in its
// pages): it is stopped after a bounded number of steps.
int stopLongQuery(void* steps) {
    return ++*static_cast<int*>(steps) > kMaxProgressSteps ? 1 : 0;
}

std::string column(sqlite3_stmt* statement, int i) {
    const auto* text = sqlite3_column_text(statement, i);
    return text == nullptr
               ? std::string()
               : std::string(reinterpret_cast<const char*>(text),
                             static_cast<std::size_t>(sqlite3_column_bytes(statement, i)));
}

Statement prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return Statement(statement);
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::optional<std::vector<DomCacheRow>> readDomCacheRows(std::vector<unsigned char>& bytes,
                                                         std::string& why) {
    if (bytes.size() < kSqliteHeaderSize || bytes.size() > kMaxDatabaseSize) {
        why = "damaged cache database (size)";
        return std::nullopt;
    }
    // In memory a WAL database cannot be read: it is read as the rollback
    // kind, which is what its pages are once its log is laid over them.
    bytes[kSqliteWriteVersionOffset] = kSqliteLegacyVersion;
    bytes[kSqliteReadVersionOffset] = kSqliteLegacyVersion;
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(raw);
        why = "cache database cannot be read (no memory)";
        return std::nullopt;
    }
    Database db(raw);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    int steps = 0;
    sqlite3_progress_handler(db.get(), 1000, &stopLongQuery, &steps);
    if (sqlite3_deserialize(
            db.get(), "main", bytes.data(), static_cast<sqlite3_int64>(bytes.size()),
            static_cast<sqlite3_int64>(bytes.size()), SQLITE_DESERIALIZE_READONLY) != SQLITE_OK) {
        why = "damaged cache database";
        return std::nullopt;
    }
    sqlite3_exec(db.get(), "PRAGMA cell_size_check = ON", nullptr, nullptr, nullptr);

    // The headers of each entry, in the order they were stored.
    std::map<int64_t, std::vector<std::pair<std::string, std::string>>> headers;
    Statement stored = prepare(
        db.get(), "SELECT entry_id, name, value FROM response_headers ORDER BY entry_id, rowid");
    if (!stored) {
        why = "damaged cache database (no response headers)";
        return std::nullopt;
    }
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stored.get())) == SQLITE_ROW) {
        headers[sqlite3_column_int64(stored.get(), 0)].emplace_back(column(stored.get(), 1),
                                                                    column(stored.get(), 2));
    }
    if (rc != SQLITE_DONE) {
        why = "damaged cache database";
        return std::nullopt;
    }

    Statement entries =
        prepare(db.get(),
                "SELECT e.id, e.request_method, e.request_url_no_query, e.request_url_query, "
                "e.response_type, e.response_status, e.response_body_id, "
                "(SELECT min(s.namespace) FROM storage s WHERE s.cache_id = e.cache_id), "
                "e.response_status_text "
                "FROM entries e ORDER BY e.id");
    if (!entries) {
        why = "damaged cache database (no entries)";
        return std::nullopt;
    }
    std::vector<DomCacheRow> rows;
    while ((rc = sqlite3_step(entries.get())) == SQLITE_ROW) {
        sqlite3_stmt* s = entries.get();
        DomCacheRow row;
        row.id = sqlite3_column_int64(s, 0);
        row.method = column(s, 1);
        row.url = column(s, 2) + column(s, 3);
        row.responseType = sqlite3_column_int64(s, 4);
        row.status = sqlite3_column_int64(s, 5);
        row.bodyId = column(s, 6);
        if (sqlite3_column_type(s, 7) != SQLITE_NULL) {
            row.nameSpace = sqlite3_column_int64(s, 7);
        }
        row.statusText = column(s, 8);
        if (const auto found = headers.find(row.id); found != headers.end()) {
            row.headers = std::move(found->second);
        }
        for (const auto& [name, value] : row.headers) {
            if (equalsNoCase(name, "Content-Type")) {
                row.contentType = value;
                break;
            }
        }
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
        why = "damaged cache database";
        return std::nullopt;
    }
    return rows;
}

std::string morguePath(const std::string& bodyId) {
    if (bodyId.size() != kBodyIdLength || bodyId.front() != '{' || bodyId.back() != '}') {
        return {};
    }
    for (std::size_t i = 1; i + 1 < bodyId.size(); ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? bodyId[i] != '-' : !isHex(bodyId[i])) {
            return {};
        }
    }
    // The folder is the uuid's last byte in decimal.
    const std::string lastByte = bodyId.substr(kBodyIdLength - 3, 2);
    const int folder = std::stoi(lastByte, nullptr, 16);
    return std::string(kMorgueFolder) + "/" + std::to_string(folder) + "/" + bodyId + kBodySuffix;
}

std::string DomCacheRow::head() const {
    std::string text =
        "HTTP/1.1 " + std::to_string(status) + (statusText.empty() ? "" : " ") + statusText + "\n";
    for (const auto& [name, value] : headers) {
        text += name + ": " + value + "\n";
    }
    return text;
}

}  // namespace harvix::domcache
