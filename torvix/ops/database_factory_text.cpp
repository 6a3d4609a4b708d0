#include "torvix/ops/database_factory_text.h"

#include "torvix/database/database_image.h"
#include "torvix/database/factory_text_reader.h"
#include "torvix/database/factory_text_writer.h"

namespace torvix {

static_assert(DatabaseImage::kSize == kDatabaseImageSize);

std::uint8_t* DatabaseFactoryText::Image() { return GetDatabaseImage().Data(); }

int DatabaseFactoryText::Print(std::ostream& out) { return WriteFactoryText(out); }

int DatabaseFactoryText::Compile(std::istream& in, std::string& message) {
  StreamByteSource raw(in);
  DosTextSource text(raw);
  const int result = ReadFactoryText(text);
  message = result == FT_OK ? std::string() : GetFactoryTextMessage();
  return result;
}

}  // namespace torvix
