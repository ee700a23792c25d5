#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace velm {

// Why one file transfer failed, as either end reports it.
class FileTransferError {
public:
    enum class Kind {
        // The other end refused; reason() is the sentence it gave.
        refused,
        // A chunk could not be sent, or the connection closed or said goodbye mid-transfer.
        connectionLost,
        // The owner stopped the transfer.
        cancelled,
        // The file to send could not be opened or read, or ended before its announced size.
        cannotRead,
        // The received file could not be made, written or moved into place.
        cannotWrite,
        // More bytes arrived than were announced.
        wrongLength,
    };

    static FileTransferError refused(std::string reason) { return {Kind::refused, std::move(reason)}; }
    static FileTransferError connectionLost() { return {Kind::connectionLost, {}}; }
    static FileTransferError cancelled() { return {Kind::cancelled, {}}; }
    static FileTransferError cannotRead() { return {Kind::cannotRead, {}}; }
    static FileTransferError cannotWrite() { return {Kind::cannotWrite, {}}; }
    static FileTransferError wrongLength() { return {Kind::wrongLength, {}}; }

    Kind kind() const { return kind_; }
    // The other end's text for `refused`; empty for every other kind.
    const std::string& reason() const { return reason_; }

    // A short lower-case name of the kind, for logs.
    std::string_view describe() const;

    friend bool operator==(const FileTransferError&, const FileTransferError&) = default;

private:
    FileTransferError(Kind kind, std::string reason) : kind_(kind), reason_(std::move(reason)) {}

    Kind kind_;
    std::string reason_;
};

} // namespace velm
