#pragma once

#include "protocol/json/JsonRecord.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace velm {

// A file the host offers for download, and the rules for naming a file that arrives.
struct FileItem {
    // Longest name, in UTF-8 bytes, that a received file is stored under before numbering.
    static constexpr std::size_t maxNameBytes = 240;
    // The name of a received file whose own name leaves nothing usable.
    static constexpr std::string_view fallbackName = "File from iPad";

    std::uint32_t id = 0; // the number under which the file is offered
    std::string name;     // the last path component only
    std::uint64_t size = 0;

    // A name received from the other end made safe to store under: composed (NFC), its last path
    // component, with path separators, colons and control and format characters each turned into "_",
    // never hidden (no leading dot or white space, nor trailing white space), cut to
    // maxNameBytes at a character boundary keeping its extension where it can, and never empty.
    static std::string safeName(std::string_view received);

    using IsTaken = std::function<bool(const std::string& name)>;

    // The name to store a file under: the safe form of `name` when it is free, else the first
    // free of "base 2.ext" to "base 9999.ext", else a fresh UUID with the extension.
    static std::string uniqueName(std::string_view name, const IsTaken& isTaken);

    static void fields(auto& visit, auto&... self) {
        visit("id", self.id...);
        visit("name", self.name...);
        visit("size", self.size...);
    }

    friend bool operator==(const FileItem& a, const FileItem& b) { return fieldsEqual(a, b); }
};

} // namespace velm
