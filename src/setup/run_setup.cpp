#include "setup/run_setup.h"

#include <string>

#include "launch/launch_application.h"
#include "location/path_rules.h"
#include "location/prepare_target_folder.h"
#include "payload/payload_table.h"
#include "payload/unpack.h"
#include "placement/place_file.h"
#include "runtime/text.h"
#include "setup/report_failure.h"
#include "setup/session_lock.h"

namespace qmt {
namespace {

// The table's last entry is the application, which is started after both files are in place.
constexpr std::size_t kApplicationEntry = kPayloadEntryCount - 1;

// Unpacks one entry and places it at `destination`. The unpacked bytes live only inside this call, so at most one
// unpacked file is in memory at a time.
Expected<void, SetupFailure> installEntry(const PayloadEntry& entry, std::u16string_view destination) {
  Expected<ByteBuffer, SetupFailure> bytes = unpack({entry.compressedData, entry.compressedSize});
  if (!bytes) return unexpected(std::move(bytes).error());
  return placeFile(destination, bytes->bytes());
}

// The whole run up to the first failure: the folder, both entries in table order, then the start.
Expected<void, SetupFailure> installAndStart() {
  Expected<std::u16string, SetupFailure> folder = prepareTargetFolder();
  if (!folder) return unexpected(std::move(folder).error());

  std::u16string executablePath;
  for (std::size_t i = 0; i < kPayloadEntryCount; ++i) {
    const PayloadEntry& entry = payloadTable[i];
    std::u16string destination = joinPath(*folder, asciiToUtf16(entry.fileName));
    Expected<void, SetupFailure> installed = installEntry(entry, destination);
    if (!installed) return installed;
    // The application's path is the very one it was placed under, and stays held until the launch has ended.
    if (i == kApplicationEntry) executablePath = std::move(destination);
  }
  return launchApplication(*folder, executablePath);
}

}  // namespace

void runSetup() {
  // Held to the very end, the failure box included, so that a second setup starts only when this one is done.
  const SessionLock session = acquireSessionLock();
  Expected<void, SetupFailure> outcome = installAndStart();
  if (!outcome) reportFailure(outcome.error());
}

}  // namespace qmt
