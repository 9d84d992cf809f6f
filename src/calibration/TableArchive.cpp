#include "calibration/TableArchive.h"

#include "calibration/DataFile.h"
#include "view/ProfileFile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace zq455 {
namespace {

using nlohmann::json;

constexpr const char* INDEX_FILE = "index.json";
constexpr size_t TABLE_BYTES = size_t{CALIBR_TRANS_ROWS} * CALIBR_COLUMNS * 2;

constexpr const char* DELIVERY_NAMES[] = {"not sent", "whole", "partly"};

// Makes `dir` and every folder above it that is missing; the message names the one that
// could not be made and the reason.
TCalibrResult MakeFolders(const std::string& dir) {
    for (size_t end = dir.find('/', 1);; end = dir.find('/', end + 1)) {
        const std::string part = dir.substr(0, end);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return {TCalibrStatus::FileError,
                    part + ": the folder cannot be made (" + std::strerror(errno) + ")."};
        if (end == std::string::npos)
            return {};
    }
}

bool ReadWhole(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    bytes = all.str();
    return !in.bad();
}

json ToJson(const TArchiveEntry& e) {
    json edits = json::object();
    for (const auto& [name, value] : e.edits)
        edits[name] = value;
    return {{"id", e.id},
            {"created", e.created},
            {"method", e.method},
            {"edits", edits},
            {"steps", e.steps},
            {"delivery", DELIVERY_NAMES[size_t(e.delivery)]},
            {"blocks_sent", e.blocks_sent},
            {"verdict", e.verdict},
            {"z_field_error_um", e.z_field_error_um},
            {"report", e.report},
            {"certificate", e.certificate},
            {"stored_at", e.stored_at},
            {"restored_from", e.restored_from}};
}

// Throws nlohmann's exceptions on a field of the wrong type; the caller names the file.
TArchiveEntry FromJson(const json& j) {
    TArchiveEntry e;
    e.id = j.at("id").get<std::string>();
    e.created = j.value("created", "");
    e.method = j.value("method", "");
    const json edits = j.value("edits", json::object());
    for (const auto& [name, value] : edits.items())
        e.edits.emplace_back(name, value.get<std::string>());
    e.steps = j.value("steps", 0u);
    const std::string delivery = j.value("delivery", "not sent");
    for (size_t i = 0; i < std::size(DELIVERY_NAMES); ++i)
        if (delivery == DELIVERY_NAMES[i])
            e.delivery = TTableDelivery(i);
    e.blocks_sent = j.value("blocks_sent", 0u);
    e.verdict = j.value("verdict", "");
    e.z_field_error_um = j.value("z_field_error_um", -1.0);
    e.report = j.value("report", "");
    e.certificate = j.value("certificate", "");
    e.stored_at = j.value("stored_at", "");
    e.restored_from = j.value("restored_from", "");
    return e;
}

// "2026-12-10 10:42:07" -> "20261210-104207".
std::string IdFromTime(const std::string& now) {
    std::string id;
    for (char c : now) {
        if (c >= '0' && c <= '9')
            id += c;
        if (id.size() == 8 && c == ' ')
            id += '-';
    }
    return id;
}

} // namespace

std::string SensorArchiveName(const std::array<uint16_t, 8>& identity) {
    const uint32_t serial = identity[2] + (static_cast<uint32_t>(identity[3]) << 16);
    return std::to_string(identity[0]) + "-" + std::to_string(serial);
}

std::string DeliveryText(const TArchiveEntry& entry) {
    switch (entry.delivery) {
    case TTableDelivery::Whole:
        return "sent whole";
    case TTableDelivery::Partly:
        return "sent partly (" + std::to_string(entry.blocks_sent) + " of 160 blocks)";
    default:
        return "not sent";
    }
}

TTableArchive::TTableArchive(std::string data_directory, const std::array<uint16_t, 8>& identity)
    : Folder_(std::move(data_directory) + "/archive/" + SensorArchiveName(identity)) {}

std::string TTableArchive::EntryFolder(const std::string& id) const {
    return Folder_ + "/" + id;
}

std::string TTableArchive::EntryFile(const std::string& id, const std::string& name) const {
    return EntryFolder(id) + "/" + name;
}

TCalibrResult TTableArchive::Add(const TCalibrationState& state, const std::string& now,
                                 TArchiveEntry& entry) {
    std::vector<TArchiveEntry> entries;
    if (TCalibrResult r = List(entries); !r.Ok())
        return r;
    const std::string base = IdFromTime(now);
    std::string id = base;
    for (int n = 2; std::any_of(entries.begin(), entries.end(), [&](const auto& e) { return e.id == id; });
         ++n)
        id = base + "-" + std::to_string(n);

    if (TCalibrResult r = MakeFolders(EntryFolder(id)); !r.Ok())
        return r;
    const std::span<const uint16_t> table(&state.Calibr_Table_Trans[0][0],
                                          size_t{CALIBR_TRANS_ROWS} * CALIBR_COLUMNS);
    if (TCalibrResult r = WriteLe16File(EntryFile(id, ARCHIVE_TABLE_FILE), {table}); !r.Ok())
        return r;
    if (TCalibrResult r = SaveDataFile(state, EntryFile(id, ARCHIVE_DATA_FILE)); !r.Ok())
        return r;
    entry.id = id;
    entry.created = now;
    entries.push_back(entry);
    return WriteIndex(entries);
}

TCalibrResult TTableArchive::Update(const TArchiveEntry& entry) {
    std::vector<TArchiveEntry> entries;
    if (TCalibrResult r = List(entries); !r.Ok())
        return r;
    auto it = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.id == entry.id; });
    if (it == entries.end())
        return {TCalibrStatus::InvalidInput, Folder_ + "/" + INDEX_FILE + ": no entry " + entry.id + "."};
    *it = entry;
    return WriteIndex(entries);
}

TCalibrResult TTableArchive::List(std::vector<TArchiveEntry>& entries) const {
    entries.clear();
    const std::string path = Folder_ + "/" + INDEX_FILE;
    std::string bytes;
    if (!ReadWhole(path, bytes))
        return errno == ENOENT ? TCalibrResult{}
                               : TCalibrResult{TCalibrStatus::FileError,
                                               path + ": cannot be read (" + std::strerror(errno) + ")."};
    try {
        const json index = json::parse(bytes);
        for (const json& j : index.at("entries"))
            entries.push_back(FromJson(j));
    } catch (const json::exception& e) {
        entries.clear();
        return {TCalibrStatus::FileError, path + ": not an archive index (" + e.what() + ")."};
    }
    return {};
}

std::optional<TArchiveEntry> TTableArchive::Find(const std::string& id) const {
    std::vector<TArchiveEntry> entries;
    List(entries);
    for (const TArchiveEntry& e : entries)
        if (e.id == id)
            return e;
    return std::nullopt;
}

TCalibrResult TTableArchive::LoadTable(const std::string& id, TCalibrationState& state) const {
    const std::string table_path = EntryFile(id, ARCHIVE_TABLE_FILE);
    std::string bytes;
    if (!ReadWhole(table_path, bytes) || bytes.size() != TABLE_BYTES)
        return {TCalibrStatus::FileError, table_path + ": not a whole table (" +
                                              std::to_string(bytes.size()) + " bytes, " +
                                              std::to_string(TABLE_BYTES) + " expected)."};
    std::string data;
    const std::string data_path = EntryFile(id, ARCHIVE_DATA_FILE);
    if (!ReadWhole(data_path, data) || data.size() != CALIBR_DATA_BYTES)
        return {TCalibrStatus::FileError, data_path + ": not a whole run."};
    uint16_t* table = &state.Calibr_Table_Trans[0][0];
    for (size_t i = 0; i < TABLE_BYTES / 2; ++i)
        table[i] = uint16_t(uint8_t(bytes[2 * i]) | uint8_t(bytes[2 * i + 1]) << 8);
    size_t loaded = 0;
    return LoadDataFile(state, data_path, loaded);
}

TCalibrResult TTableArchive::WriteIndex(const std::vector<TArchiveEntry>& entries) const {
    json index = {{"format", TABLE_ARCHIVE_FORMAT},
                  {"sensor", Folder_.substr(Folder_.rfind('/') + 1)},
                  {"entries", json::array()}};
    for (const TArchiveEntry& e : entries)
        index["entries"].push_back(ToJson(e));
    const TFileResult written = WriteFileAtomically(Folder_ + "/" + INDEX_FILE, index.dump(2) + "\n");
    if (!written.ok)
        return {TCalibrStatus::FileError, written.message};
    return {};
}

} // namespace zq455
