// Object: the root of the MAIL class library.
//
// Every class of the library derives from Object, whose virtual dump() is
// the library's diagnostic print. The base version prints nothing; classes
// that have something to show override it and write through the
// diagnostics channel (Diagnostics.h) or the log.
#pragma once

namespace MAIL {

class Object {
public:
    Object() = default;
    Object(const Object&) = default;
    Object& operator=(const Object&) = default;
    virtual ~Object();

    // Diagnostic print; does nothing here.
    virtual void dump();
};

} // namespace MAIL
