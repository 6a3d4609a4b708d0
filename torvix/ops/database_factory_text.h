// The factory-data text of the link tool's one database image: the reader
// compiles into GetDatabaseImage(), the writer prints it.  User-interface
// thread only, and never while a job uses the image.
#pragma once

#include "torvix/ops/operations.h"

namespace torvix {

class DatabaseFactoryText : public FactoryText {
 public:
  std::uint8_t* Image() override;
  int Print(std::ostream& out) override;
  int Compile(std::istream& in, std::string& message) override;
};

}  // namespace torvix
