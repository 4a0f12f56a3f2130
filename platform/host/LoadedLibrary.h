#pragma once
// A shared library mapped when first needed, its functions bound by name. Libraries that only some
// modes use (the journal's, the mount table's, the remote store's) are not mapped at start-up, so
// that --help and a plain save start as fast as the tools they stand beside.
#include <dlfcn.h>
#include <string>

class LoadedLibrary {
  public:
    explicit LoadedLibrary(const char* soname)
        : m_soname(soname), m_handle(dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {
        if (!m_handle) m_problem = dlerror();
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    // Binds `function` to the library's symbol `name`; a missing one makes the library unusable.
    template <typename Function> bool bind(Function& function, const char* name) {
        function = m_handle ? reinterpret_cast<Function>(dlsym(m_handle, name)) : nullptr;
        if (!function && m_problem.empty()) m_problem = m_soname + " lacks " + name;
        return function != nullptr;
    }
    bool ok() const { return m_handle && m_problem.empty(); }
    // Why the library cannot be used, for the message that says so.
    const std::string& problem() const { return m_problem; }

  private:
    std::string m_soname;
    void* m_handle; // never closed: bound functions are used until the process ends
    std::string m_problem;
};
