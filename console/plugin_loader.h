// plugin_loader.h: the plug-ins of a directory, loaded into the console's process.
//
// Every "*.so" file of the directory is loaded with dlopen(RTLD_NOW | RTLD_LOCAL), in the order
// of the file names; the loader runs each one's load routine, which registers its pages. Unloading
// goes in the reverse order, and each plug-in's unload routine deregisters its pages. A plug-in
// that fails to load is reported and skipped; the others still load.
#ifndef KEL_CONSOLE_PLUGIN_LOADER_H
#define KEL_CONSOLE_PLUGIN_LOADER_H

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace kel::console {

class PluginSet {
  public:
    PluginSet() = default;
    ~PluginSet() { UnloadAll(); }
    PluginSet(const PluginSet &) = delete;
    PluginSet &operator=(const PluginSet &) = delete;

    // Loads the plug-ins of `directory`, reporting each load and each failure on `messages`.
    // False (with *error) only when the directory cannot be read.
    bool LoadDirectory(const std::string &directory, std::FILE *messages, std::string *error);
    // Unloads every plug-in, the last loaded first.
    void UnloadAll(std::FILE *messages = nullptr);

    std::size_t size() const { return handles_.size(); }

  private:
    std::vector<std::pair<std::string, void *>> handles_;  // path, dlopen handle
};

}  // namespace kel::console

#endif  // KEL_CONSOLE_PLUGIN_LOADER_H
