// The library's reference holder for Tcl objects, shared by the source files
// of the extended commands; internal, not part of the exported interface.
#ifndef ORX_EXTENDED_OBJREF_H
#define ORX_EXTENDED_OBJREF_H

#include <tcl.h>

#include <utility>

// Holds one reference for as long as it lives; copies share the object.
class ObjRef {
public:
    ObjRef() = default;
    explicit ObjRef(Tcl_Obj *obj) : obj_(obj)
    {
        if (obj_ != nullptr) {
            Tcl_IncrRefCount(obj_);
        }
    }
    ObjRef(const ObjRef &other) : ObjRef(other.obj_) {}
    ObjRef &operator=(ObjRef other) noexcept
    {
        std::swap(obj_, other.obj_);
        return *this;
    }
    ~ObjRef()
    {
        if (obj_ != nullptr) {
            Tcl_DecrRefCount(obj_);
        }
    }
    Tcl_Obj *get() const { return obj_; }

private:
    Tcl_Obj *obj_ = nullptr;
};

#endif
