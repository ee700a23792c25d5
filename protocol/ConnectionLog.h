#pragma once

#include "platform/core/Bytes.h"
#include "platform/core/Date.h"
#include "platform/core/Uuid.h"
#include "protocol/ConnectionRecord.h"
#include "protocol/json/JsonRecord.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velm {

// The host's connection history, newest record first, with the rules that open, reopen, close,
// refuse and prune records. A plain value: whoever holds it serialises the calls, and every
// operation takes the current time from its caller.
struct ConnectionLog {
    // A session that comes back on the same route less than this long after its end is
    // reopened, so a quick reconnect is listed as one session.
    static constexpr double reopenWindow = 60.0;
    // A closed record is pruned once its end lies further back than this (90 days).
    static constexpr double maximumAge = 7'776'000.0;
    static constexpr std::size_t maximumRecords = 500;

    std::vector<ConnectionRecord> records; // newest first; a reopened record keeps its place

    // Opens the record that stands for a newly admitted connection and returns its id: the
    // device's newest session record when that one ended on the same route less than
    // reopenWindow before `at` (or after it, by less than that) and not for idleness, else a new
    // record in front (which prunes the log).
    Uuid begin(ConnectionRecord::Kind kind, const std::string& deviceID, const std::string& deviceName,
               ConnectionRecord::Route route, const std::optional<std::string>& from, bool forwardSecret,
               Date at);

    // Closes the open record with this id; an unknown or already closed id changes nothing.
    void end(const Uuid& id, ConnectionRecord::Ending ending, Date at);

    // Adds a closed record of an attempt that was turned away, then prunes.
    void recordRefusal(ConnectionRecord::Refusal refusal, const std::string& deviceID,
                       const std::string& deviceName, ConnectionRecord::Route route,
                       const std::optional<std::string>& from, bool forwardSecret, Date at);

    // Drops closed records that ended more than maximumAge before `now` (open ones stay), then
    // everything past the newest maximumRecords.
    void prune(Date now);

    // Closes every open record as interrupted, with no duration: for records left open when the
    // host last stopped.
    void closeOpenRecords();

    void removeAll() { records.clear(); }

    // The stored form, {"records":[...]}; nothing when a date cannot be written (not finite).
    std::optional<Bytes> storedForm() const;

    // Reads a stored log record by record: a record that cannot be read (damaged, or written by
    // a newer version with a value this one does not know) is dropped and the others are kept.
    // Text that is not a stored log at all gives an empty log.
    static ConnectionLog fromStoredForm(ByteView stored);

    static void fields(auto& visit, auto&... self) { visit("records", self.records...); }

    friend bool operator==(const ConnectionLog& a, const ConnectionLog& b) { return fieldsEqual(a, b); }

private:
    void insert(ConnectionRecord record, Date now);
};

} // namespace velm
