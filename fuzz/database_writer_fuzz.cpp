// The factory-data text writer on arbitrary database images: it prints or
// refuses, never reads outside the image (the image's accessors assert every
// offset), and what it prints is DOS text.  The input fills the image from
// its start; the rest stays zero.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <streambuf>

#include "fuzz/fuzz_support.h"
#include "torvix/database/factory_text_writer.h"
#include "torvix/database/records.h"

namespace {

// Counts what is printed and checks that every line feed ends a CR LF pair.
class DosTextCheck : public std::streambuf {
 public:
  std::size_t Count() const { return count_; }

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    for (std::streamsize i = 0; i < n; ++i) {
      if (s[i] == '\n') FUZZ_CHECK((i > 0 ? s[i - 1] : last_) == '\r');
    }
    if (n > 0) last_ = s[n - 1];
    count_ += static_cast<std::size_t>(n);
    return n;
  }
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    if (ch == '\n') FUZZ_CHECK(last_ == '\r');
    last_ = ch;
    ++count_;
    return c;
  }

 private:
  std::size_t count_ = 0;
  char last_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace torvix;
  static auto* image = new DatabaseImage;
  std::memset(image->Data(), 0, DatabaseImage::kSize);
  if (size != 0) std::memcpy(image->Data(), data, std::min(size, DatabaseImage::kSize));
  DosTextCheck check;
  std::ostream out(&check);
  const int result = WriteFactoryText(out, *image);
  if (HasImageMagic(*image)) {
    FUZZ_CHECK(result == kWriteOk && check.Count() > 0);
  } else {
    FUZZ_CHECK(result == kWriteInvalidImage && check.Count() == 0);
  }
  return 0;
}
