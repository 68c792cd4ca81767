// What every reader of a compiled file does before it reads the root: the frame opened and
// checked, the symbol table read (charged to `meter`), the root's offset checked to lie within
// the body.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dral_core/base/error.hpp"
#include "dral_core/base/memory_meter.hpp"
#include "dral_core/rfc001/cbf/container.hpp"

namespace dral_core::rfc001::cbf {

struct OpenedDocument {
    CbfHeader header;
    std::span<const std::uint8_t> body;
    std::vector<std::string> symbols;  // empty without a table
};

Result<OpenedDocument> open_document(std::span<const std::uint8_t> file, MemoryMeter& meter,
                                     ChecksumObserver* observer = nullptr);

}  // namespace dral_core::rfc001::cbf
