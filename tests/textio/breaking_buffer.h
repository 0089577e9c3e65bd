// A stream buffer that hands out `text` and then breaks, as a failing disk
// or a closed pipe would: for the device-error paths of the readers.
#pragma once

#include <stdexcept>
#include <streambuf>
#include <string>
#include <utility>

class BreakingBuffer : public std::streambuf {
 public:
  explicit BreakingBuffer(std::string text) : text_(std::move(text)) {
    setg(text_.data(), text_.data(), text_.data() + text_.size());
  }

 protected:
  int_type underflow() override { throw std::runtime_error("device broke"); }

 private:
  std::string text_;
};
