#include "torvix/database/database_image.h"

namespace torvix {

DatabaseImage& GetDatabaseImage() {
  static DatabaseImage image;  // zero at program start
  return image;
}

}  // namespace torvix
