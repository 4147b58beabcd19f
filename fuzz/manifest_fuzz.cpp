// beamfall's manifest as the tools read it: any text is either a manifest or none, and a
// manifest read holds an exit status and files with names.
#include <cstdint>
#include <string_view>

#include "fuzz_util.hpp"
#include "kit/manifest.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<kit::Manifest> m = kit::read_manifest(text);
  if (!m) return 0;
  if (m->status < 0 || m->status > 255) fuzz::finding("an exit status outside 0 to 255");
  for (const kit::ManifestFile& f : m->outputs)
    (void)m->output(f.role);
  (void)m->roll0_used();
  return 0;
}
