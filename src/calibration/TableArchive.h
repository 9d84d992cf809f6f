#pragma once
// The table archive. The sensor has no command that gives its table back, so once a new
// table is stored in FLASH the one it replaced exists only where the tool kept it. Before
// any table goes to the sensor the tool writes it here with what it was made from, and
// later adds what became of it (how much reached the sensor, the check, the FLASH store).
//
//   <data>/archive/<device type>-<serial number>/index.json   every entry of that sensor
//   <data>/archive/<device type>-<serial number>/<id>/table.bin  1024 x 640 values, 16-bit
//                                         little-endian, row-major (what `table send` takes)
//   <data>/archive/<device type>-<serial number>/<id>/run.dtf    the raw data of the run
//   ...and, once made, the check's report (check.json, .csv, -map.csv, -map.png) and the
//   certificate (certificate.pdf) in the same folder.
//
// The index is rewritten whole (a new file renamed over the old one) at every change, so a
// failed write leaves the previous index.

#include "calibration/CalibrationState.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zq455 {

constexpr int TABLE_ARCHIVE_FORMAT = 1;
constexpr const char* ARCHIVE_TABLE_FILE = "table.bin";
constexpr const char* ARCHIVE_DATA_FILE = "run.dtf";
constexpr const char* ARCHIVE_REPORT_FILE = "check.json";
constexpr const char* ARCHIVE_CERTIFICATE_FILE = "certificate.pdf";

// What of the table reached the sensor.
enum class TTableDelivery : uint8_t { NotSent, Whole, Partly };

struct TArchiveEntry {
    std::string id;      // "YYYYMMDD-HHMMSS", with "-2", "-3", ... when that second is taken
    std::string created; // local time, "YYYY-MM-DD HH:MM:SS"
    std::string method;  // TableMethodName of the computation
    std::vector<std::pair<std::string, std::string>> edits; // x_left, x_right, zero_left, zero_right
    unsigned steps = 0; // steps of the run captured before the data were taken (500: whole)
    TTableDelivery delivery = TTableDelivery::NotSent;
    uint32_t blocks_sent = 0;       // of the 160 blocks of a transfer
    std::string verdict;            // "" (not checked), "pass" or "fail"
    double z_field_error_um = -1.0; // the check's field figure; negative until checked
    std::string report;             // the check's summary in the entry folder, "" until checked
    std::string certificate;        // the certificate in the entry folder, "" until written
    std::string stored_at;          // local time the sensor stored it in FLASH, "" when not
    std::string restored_from;      // the entry this one was sent again from, "" for a new table
};

// "455-12345": the sensor's folder name from its identity values.
std::string SensorArchiveName(const std::array<uint16_t, 8>& identity);

// "sent whole", "sent partly (12 of 160 blocks)" or "not sent".
std::string DeliveryText(const TArchiveEntry& entry);

class TTableArchive {
public:
    // `data_directory`: the folder the archive lives in ("archive" below it is made on demand).
    TTableArchive(std::string data_directory, const std::array<uint16_t, 8>& identity);

    const std::string& Folder() const { return Folder_; }
    std::string EntryFolder(const std::string& id) const;
    std::string EntryFile(const std::string& id, const std::string& name) const;

    // Keeps the transmit table and the raw data of `state` as a new entry: both files, then
    // the index. `entry.id` and `entry.created` are set here (from `now`, as in
    // TArchiveEntry::created). Nothing is added to the index when a file fails; the message
    // names it.
    TCalibrResult Add(const TCalibrationState& state, const std::string& now, TArchiveEntry& entry);

    // Replaces the entry of the same id in the index.
    TCalibrResult Update(const TArchiveEntry& entry);

    // Every entry, oldest first. A missing index is an empty archive; one that cannot be read
    // fails with a message naming it.
    TCalibrResult List(std::vector<TArchiveEntry>& entries) const;
    std::optional<TArchiveEntry> Find(const std::string& id) const;

    // Reads the entry's transmit table into state.Calibr_Table_Trans (and its run into
    // Calibr_Data); nothing changes when either file is short or missing.
    TCalibrResult LoadTable(const std::string& id, TCalibrationState& state) const;

private:
    std::string Folder_;
    TCalibrResult WriteIndex(const std::vector<TArchiveEntry>& entries) const;
};

} // namespace zq455
