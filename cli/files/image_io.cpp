#include "cli/files/image_io.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>

#include "cli/errors.h"

namespace {

// The library sits beside the host library: ../lib from the program's
// folder, in the build tree and when installed.
const ImageFileFunctions& Functions() {
  static const ImageFileFunctions* functions = nullptr;
  static std::string failure;
  static std::once_flag loaded;
  std::call_once(loaded, [] {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string path =
        (exe.parent_path() / ".." / "lib" / "libvexlanimageio.so").lexically_normal().string();
    // Bound lazily: of the image library's many functions a run calls few,
    // and binding them all up front costs what a small frame costs.
    void* library = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!library) {
      const char* why = dlerror();
      failure = "cannot load the image file library " + path + ": " + (why ? why : "");
      return;
    }
    using Entry = const ImageFileFunctions* (*)();
    auto entry = reinterpret_cast<Entry>(dlsym(library, VEXLAN_IMAGE_FILES_ENTRY));
    if (!entry) {
      failure = path + " is not vexlan's image file library";
      return;
    }
    functions = entry();  // kept loaded until the program ends
  });
  if (!functions) throw RunError(failure);
  return *functions;
}

}  // namespace

std::unique_ptr<ImageFile> OpenImageFile(const std::string& path, const std::string& selector,
                                         double maxPixels, Carry carry) {
  return Functions().open(path, selector, maxPixels, carry);
}

void CheckOutputPath(const std::string& path, const WriteOptions& options) {
  Functions().checkOutput(path, options);
}

std::string WriteImageFile(const Image& result, const Rect& frame, const ImageFile& like,
                           const WriteOptions& options, const std::string& path) {
  return Functions().write(result, frame, like, options, path);
}

void WriteFloatImage(const FloatImage& img, const std::string& path) {
  Functions().writeFloat(img, path);
}

void LimitImageFileThreads(int threads) { Functions().limitThreads(threads); }

std::future<void> LoadImageFilesAhead() {
  return std::async(std::launch::async, [] {
    try {
      Functions();
    } catch (const CliError&) {
    }
  });
}
