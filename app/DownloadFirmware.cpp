// -G: download a build from the update server into the store. The request
// runs on a worker thread while the main thread draws a spinner.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

#include "app/Log.h"
#include "app/Updater.h"
#include "server/UpdateServerRequest.h"
#include "store/BirdFile.h"
#include "store/UpdaterStore.h"

namespace {

const UpdaterDisplayInterface::Level sInfo = UpdaterDisplayInterface::Info;
const UpdaterDisplayInterface::Level sError = UpdaterDisplayInterface::Error;

// Decimal text to a build number: digits, optionally followed by white
// space (a server line may end in "\r"); false for anything else and for
// values beyond 32 bits.
bool _to_build(const std::string& text, uint32_t* value) {
  size_t digits = text.find_first_not_of("0123456789");
  if (digits == 0 || text.empty()) return false;
  if (digits != std::string::npos && text.find_first_not_of(" \t\r\n", digits) != std::string::npos)
    return false;
  errno = 0;
  unsigned long long v = strtoull(text.c_str(), nullptr, 10);
  if (errno == ERANGE || v > 0xFFFFFFFFull) return false;
  *value = uint32_t(v);
  return true;
}

// Runs GetBuild on a worker thread and animates the spinner until it ends.
bool _download(UpdaterDisplayInterface& display, uint32_t serialNumber,
               const std::string& version, const std::string& buildText,
               const std::string& url, bool noCal, std::string& birdText) {
  std::promise<bool> done;
  std::future<bool> result = done.get_future();
  std::thread worker([&done, &birdText, serialNumber, version, buildText, url, noCal] {
    bool ok = false;
    try {
      ok = UpdateServerRequest::GetBuild(serialNumber, version.c_str(), buildText.c_str(),
                                         birdText, url.c_str(), noCal);
    } catch (const std::exception& e) {
      Log::log(DEBUG_ServerComm, "%s ==> [%s]\n", "GetBuild", e.what());
    }
    done.set_value(ok);
  });
  display.update_spinner(true, "Downloading");
  while (result.wait_for(std::chrono::milliseconds(100)) == std::future_status::timeout)
    display.update_spinner(true, "Downloading");
  display.update_spinner(false, "Downloading");
  bool ok = result.get();
  if (!ok) display.message(sError, "Download failed");
  worker.join();
  return ok;
}

// Keeps a download only when it is a firmware file: the base64 must decode
// and the bytes must load as a BIRD file. They are checked under a hidden
// name (never listed as a build) and then written in place, so a failed
// download leaves the store as it was.
bool _store_download(UpdaterDisplayInterface& display, UpdaterStoreItem& item,
                     const std::string& fileName, const std::string& birdText) {
  size_t size = 0;
  char* bytes = base64_decode(birdText.data(), birdText.size(), &size);
  if (!bytes) {
    Log::log(DEBUG_Updater, "Download of %s is not base64 (%zu characters)\n", fileName.c_str(),
             birdText.size());
    display.message(sError, "Failed to retrieve a valid BIRD file");
    return false;
  }
  const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes);
  const std::string checkName = "." + fileName + ".check";
  const std::string checkPath = item.FullPath() + "/" + checkName;
  bool stored = false;
  tErr err = item.WriteFile(checkName.c_str(), data, size);
  if (err != tErrNone) {
    display.message(sError, "Failed to write file with %d", int(err));
  } else {
    bool loadable = BirdFile::VerifyFile(checkPath.c_str());
    if (loadable) {
      try {
        BirdFile check(checkPath.c_str());
      } catch (const std::runtime_error&) {
        loadable = false;
      }
    }
    if (!loadable) {
      Log::log(DEBUG_Updater, "Download of %s is not a loadable BIRD file\n", fileName.c_str());
      display.message(sError, "Failed to retrieve a valid BIRD file");
    } else if ((err = item.WriteFile(fileName.c_str(), data, size)) != tErrNone) {
      display.message(sError, "Failed to write file with %d", int(err));
    } else {
      stored = true;
    }
  }
  remove(checkPath.c_str());
  free(bytes);
  return stored;
}

}  // namespace

bool Updater::_valid_build(uint32_t serialNumber, uint32_t build, const char* url) {
  std::map<std::string, std::string> list;
  if (!UpdateServerRequest::GetBuildList(serialNumber, list, url)) return false;
  for (const auto& entry : list) {
    uint32_t number = 0;
    if (!_to_build(entry.first, &number)) {
      Log::log(DEBUG_Updater, "Error: Could not convert %s to int.\n", entry.first.c_str());
      number = 0;
    }
    if (number == build) return true;
  }
  return false;
}

uint32_t Updater::Download_Firmware(uint32_t serialNumber, std::string build,
                                    bool overrideValidation, bool noCal) {
  uint32_t chosen = 0;
  if (!build.empty() && !_to_build(build, &chosen)) {
    display.message(sError, "Build number '%s' must be an number", build.c_str());
    return 0;
  }
  if (serialNumber == 0) {
    display.message(sError, "Serial Number must be non-zero");
    return 0;
  }
  const char* url = updateServerURL.c_str();
  if (!UpdateServerRequest::ping(url)) {
    display.message(sError, "Server request failed for %s", url);
    return 0;
  }
  std::unique_ptr<UpdaterStore> store =
      _createUpdaterStore(display, storeDirectory, "Download_Firmware");
  if (!store) return 0;
  UpdaterStoreItem item;
  if (!store->FindDevice(serialNumber, &item)) {
    Log::log(DEBUG_APP, "Could not find device in our update history.\n");
    try {
      item = store->AddDevice(serialNumber);
    } catch (const std::runtime_error&) {
      display.message(sError, "Could not create directory for storing BIRD file");
      return 0;
    }
  }

  std::string latestBuild, latestVersion;
  if (!UpdateServerRequest::QueryBuild(serialNumber, latestBuild, latestVersion, url)) {
    display.message(sError, "No build information for device");
    return 0;
  }
  // Build 0 is no build: -b with non-digits already became "0".
  if (chosen == 0 && !_to_build(latestBuild, &chosen)) {
    Log::log(DEBUG_Updater, "Error: Could not convert %s to int.\n", latestBuild.c_str());
    chosen = 0;
  }

  display.message(sInfo, "Retrieving build %u", chosen);
  if (overrideValidation) {
    display.message(sInfo, "Override specified, skipping validation of build %u", chosen);
  } else {
    display.message(sInfo, "Validating build %u with server", chosen);
    if (!_valid_build(serialNumber, chosen, url)) {
      display.message(sError, "No valid build %u", chosen);
      return 0;
    }
    display.message(sInfo, "Build %u is valid", chosen);
  }

  const std::string buildText = std::to_string(chosen);
  std::string birdText;
  _download(display, serialNumber, latestVersion, buildText, updateServerURL, noCal, birdText);
  if (birdText.empty()) {
    display.message(sError, "Failed to retrieve a valid BIRD file");
    return 0;
  }

  const std::string fileName = buildText + ".bird";
  if (!_store_download(display, item, fileName, birdText)) return 0;
  item.attributes.Add("LATEST_DOWNLOAD", fileName);
  item.attributes.Add("LAST_DOWNLOAD_DATE", KeyValueStore::CurrentTime());
  item.attributes.Save(nullptr);
  return chosen;
}

uint32_t Updater::Download_Firmware(Fingerprint fingerprint, std::string build,
                                    bool overrideValidation) {
  uint32_t chosen = 0;
  if (!build.empty() && !_to_build(build, &chosen)) {
    Log::log(DEBUG_Updater, "Error: Could not convert %s to int.\n", build.c_str());
    chosen = 0;
  }
  uint32_t serial = 0, recoveryBuild = 0;
  if (!UpdateServerRequest::GetRecoveryInfo(fingerprint.words, &serial, &recoveryBuild,
                                            updateServerURL.c_str())) {
    display.message(sError, "Failed to retrieve recovery information from Telvicor update server");
    return 0;
  }
  if (chosen == 0) chosen = recoveryBuild;
  // The device's serial number is the server's, not the command line's.
  return Download_Firmware(serial, std::to_string(chosen), overrideValidation, false);
}
