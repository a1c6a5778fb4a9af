#include "appliance/store/store_uuid.h"

#include <uuid/uuid.h>

namespace orva_store {

std::string randomUuid() {
  uuid_t id;
  uuid_generate_random(id);
  char text[37];
  uuid_unparse_lower(id, text);
  return std::string(text, 36);
}

}  // namespace orva_store
