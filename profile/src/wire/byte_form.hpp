// The one reader and writer of the engine's byte forms (partial results, finished reports):
// unsigned LEB128 varints, length-prefixed strings, single bytes and fixed 8-byte little-endian
// words. The reader checks everything, since the bytes may come from another machine.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace zel_profile::detail {

inline constexpr std::size_t fixed_size = 8;

class ByteWriter {
 public:
  void number(std::uint64_t value) {
    while (value >= 0x80) {
      bytes_.push_back(static_cast<char>((value & 0x7f) | 0x80));
      value >>= 7;
    }
    bytes_.push_back(static_cast<char>(value));
  }

  void text(std::string_view value) {
    number(value.size());
    bytes_ += value;
  }

  void byte(unsigned char value) { bytes_.push_back(static_cast<char>(value)); }

  void fixed(std::uint64_t value) {
    for (std::size_t i = 0; i < fixed_size; ++i) byte(static_cast<unsigned char>(value >> (8 * i)));
  }

  void real(double value) { fixed(std::bit_cast<std::uint64_t>(value)); }

  std::string_view written() const { return bytes_; }

  std::string take() { return std::move(bytes_); }

 private:
  std::string bytes_;
};

class ByteReader {
 public:
  // `form` names the bytes in messages: "malformed <form> bytes: truncated in <field>".
  ByteReader(std::string_view bytes, std::string_view form) : bytes_(bytes), form_(form) {}

  // Most numbers of a partial (steps between lengths, counts, gaps) take one byte.
  std::uint64_t number(const char* field) {
    if (at_ < bytes_.size()) {
      const auto byte = static_cast<unsigned char>(bytes_[at_]);
      if (byte < 0x80) {
        ++at_;
        return byte;
      }
    }
    return longer_number(field);
  }

  std::uint64_t longer_number(const char* field) {
    std::uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
      if (at_ == bytes_.size()) malformed(std::string("truncated in ") + field);
      const auto byte = static_cast<unsigned char>(bytes_[at_++]);
      const std::uint64_t bits = byte & 0x7fu;
      // The tenth byte may only hold the top bit of a 64-bit value and ends the number; a zero
      // last byte after others would be a second spelling of a shorter number.
      if (shift == 63 && byte > 1) malformed(std::string("number too large in ") + field);
      value |= bits << shift;
      if ((byte & 0x80u) == 0) {
        if (byte == 0 && shift != 0) malformed(std::string("overlong number in ") + field);
        return value;
      }
    }
  }

  std::uint32_t number32(const char* field) {
    const std::uint64_t value = number(field);
    if (value > std::numeric_limits<std::uint32_t>::max()) {
      malformed(std::string("number too large in ") + field);
    }
    return static_cast<std::uint32_t>(value);
  }

  // A count of items of at least `item_bytes` bytes each, so that no more are claimed than the
  // bytes left can hold: what is allocated for them is bounded by the bytes at hand.
  std::size_t count(const char* field, std::size_t item_bytes = 1) {
    const std::uint64_t value = number(field);
    if (value > (bytes_.size() - at_) / item_bytes) {
      malformed(std::string("count larger than the bytes in ") + field);
    }
    return static_cast<std::size_t>(value);
  }

  std::string text(const char* field) {
    const std::size_t size = count(field);
    std::string value(bytes_.substr(at_, size));
    at_ += size;
    return value;
  }

  unsigned char byte(const char* field) {
    if (at_ == bytes_.size()) malformed(std::string("truncated in ") + field);
    return static_cast<unsigned char>(bytes_[at_++]);
  }

  std::uint64_t fixed(const char* field) {
    if (bytes_.size() - at_ < fixed_size) malformed(std::string("truncated in ") + field);
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < fixed_size; ++i) {
      value |= std::uint64_t{static_cast<unsigned char>(bytes_[at_++])} << (8 * i);
    }
    return value;
  }

  double real(const char* field) { return std::bit_cast<double>(fixed(field)); }

  bool done() const { return at_ == bytes_.size(); }

  // How many bytes have been read, and the bytes read since such a position.
  std::size_t position() const { return at_; }
  std::string_view read_since(std::size_t from) const { return bytes_.substr(from, at_ - from); }

  [[noreturn]] void malformed(const std::string& what) const {
    throw std::invalid_argument("malformed " + std::string(form_) + " bytes: " + what);
  }

 private:
  std::string_view bytes_;
  std::string_view form_;
  std::size_t at_ = 0;
};

}  // namespace zel_profile::detail
