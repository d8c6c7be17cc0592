#include "foundation/Object.h"

namespace MAIL {

Object::~Object() = default;

void Object::dump() {}

} // namespace MAIL
