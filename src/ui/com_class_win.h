#pragma once
// COM interfaces have no virtual destructor by design (objects delete themselves in Release), so
// classes implementing them are bracketed to keep -Wnon-virtual-dtor quiet for them alone.

#define VELMORA_COM_CLASSES_BEGIN                                                                            \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wnon-virtual-dtor\"")
#define VELMORA_COM_CLASSES_END _Pragma("GCC diagnostic pop")
