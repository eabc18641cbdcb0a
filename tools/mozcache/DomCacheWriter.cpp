#include "DomCacheWriter.h"

#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "BodyEncoding.h"
#include "CacheWriter.h"

namespace harvix::mozcache {

namespace {

void run(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string why = error != nullptr ? error : "?";
        sqlite3_free(error);
        throw WriteError("sqlite: " + why);
    }
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char ch : text) {
        out += ch == '\'' ? "''" : std::string(1, ch);
    }
    return out + "'";
}

// The cache name as Firefox keys it: UTF-16LE, as a blob literal.
std::string nameBlob(const std::string& name) {
    std::string out = "X'";
    char hex[8];
    for (const char ch : name) {
        std::snprintf(hex, sizeof hex, "%02X00", static_cast<unsigned char>(ch));
        out += hex;
    }
    return out + "'";
}

std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        throw WriteError("cannot read " + file.string());
    }
    return bytes;
}

void writeAll(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) {
        throw WriteError("cannot write " + file.string());
    }
}

}  // namespace

void writeDomCacheStore(const std::filesystem::path& profile, const std::string& origin,
                        const std::vector<DomCacheRecord>& records, std::size_t firstInLog) {
    const std::filesystem::path folder = profile / "storage" / "default" / origin / "cache";
    std::filesystem::create_directories(folder);
    sqlite3* db = nullptr;
    if (sqlite3_open((folder / "caches.sqlite").c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        throw WriteError("sqlite: cannot create " + (folder / "caches.sqlite").string());
    }
    try {
        run(db, "PRAGMA journal_mode = WAL");
        run(db,
            "CREATE TABLE caches (id INTEGER NOT NULL PRIMARY KEY);"
            "CREATE TABLE storage (namespace INTEGER NOT NULL, key BLOB NULL, cache_id INTEGER "
            "NOT NULL, PRIMARY KEY(namespace, key));"
            "CREATE TABLE entries (id INTEGER NOT NULL PRIMARY KEY, request_method TEXT NOT NULL, "
            "request_url_no_query TEXT NOT NULL, request_url_query TEXT NOT NULL, response_type "
            "INTEGER NOT NULL, response_status INTEGER NOT NULL, response_status_text TEXT NOT "
            "NULL, response_body_id TEXT NULL, cache_id INTEGER NOT NULL);"
            "CREATE TABLE response_headers (name TEXT NOT NULL, value TEXT NOT NULL, entry_id "
            "INTEGER NOT NULL);"
            "INSERT INTO caches VALUES (1), (2), (3);"
            "INSERT INTO storage VALUES (0, " +
                nameBlob("pages") + ", 1), (1, " + nameBlob("{scripts}") + ", 2);");
        int id = 0;
        for (const DomCacheRecord& record : records) {
            if (static_cast<std::size_t>(id) == firstInLog) {
                run(db, "PRAGMA wal_checkpoint(TRUNCATE); PRAGMA wal_autocheckpoint = 0");
            }
            ++id;
            char uuid[40];
            std::snprintf(uuid, sizeof uuid, "{%08x-0000-4000-8000-0000000000%02x}",
                          static_cast<unsigned>(id) * 2654435761u, (id * 37) & 0xFF);
            const std::size_t query = record.url.find('?');
            const std::string cache =
                record.nameSpace < 0 ? "3" : (record.nameSpace == 0 ? "1" : "2");
            run(db, "INSERT INTO entries VALUES (" + std::to_string(id) + ", " +
                        quoted(record.method) + ", " + quoted(record.url.substr(0, query)) + ", " +
                        quoted(query == std::string::npos ? "" : record.url.substr(query)) + ", " +
                        std::to_string(record.responseType) + ", " + std::to_string(record.status) +
                        ", " + quoted(record.statusText) + ", " +
                        (record.body.empty() ? "NULL" : quoted(uuid)) + ", " + cache + ")");
            if (!record.contentType.empty()) {
                run(db, "INSERT INTO response_headers VALUES ('Content-Type', " +
                            quoted(record.contentType) + ", " + std::to_string(id) + ")");
            }
            for (const auto& [name, value] : record.headers) {
                run(db, "INSERT INTO response_headers VALUES (" + quoted(name) + ", " +
                            quoted(value) + ", " + std::to_string(id) + ")");
            }
            if (record.body.empty() || !record.bodyFile) {
                continue;
            }
            const std::filesystem::path morgue =
                folder / "morgue" / std::to_string((id * 37) & 0xFF);
            std::filesystem::create_directories(morgue);
            std::ofstream out(morgue / (std::string(uuid) + ".final"), std::ios::binary);
            out << encodeBody(record.firefoxCrc ? "snappy-framed-firefox" : "snappy-framed",
                              record.body);
            if (!out) {
                throw WriteError("cannot write a morgue file in " + morgue.string());
            }
        }
    } catch (...) {
        sqlite3_close(db);
        throw;
    }
    if (firstInLog >= records.size()) {
        sqlite3_close(db);
        return;
    }
    // The database and its log as they are while the connection is open:
    // closing would lay the log into the database.
    const std::filesystem::path database = folder / "caches.sqlite";
    const std::string pages = readAll(database);
    const std::string log = readAll(folder / "caches.sqlite-wal");
    sqlite3_close(db);
    writeAll(database, pages);
    writeAll(folder / "caches.sqlite-wal", log);
    std::filesystem::remove(folder / "caches.sqlite-shm");
}

}  // namespace harvix::mozcache
