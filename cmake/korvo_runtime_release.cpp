// Linked into every plug-in library by korvo_add_plugin where the C++ runtime
// is libstdc++. The library carries its own static runtime, whose emergency
// exception pool is allocated when the library is loaded and, left alone,
// outlives an unload: a host that loads and unloads the plug-in repeatedly
// would lose it every time. The runtime's own release routine gives it back.
namespace __gnu_cxx {
void __freeres() noexcept;
}

namespace {

struct RuntimeRelease {
    RuntimeRelease() = default;
    RuntimeRelease(const RuntimeRelease&) = delete;
    RuntimeRelease& operator=(const RuntimeRelease&) = delete;
    ~RuntimeRelease() { __gnu_cxx::__freeres(); }
};

const RuntimeRelease gRuntimeRelease;

}  // namespace
