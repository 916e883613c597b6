#include "app/Usage.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "app/Log.h"
#include "app/Parameters.h"
#include "server/HTTPRequest.h"

namespace {

constexpr size_t sOptionColumn = 30;       // where "- " starts
constexpr size_t sExplanationColumn = 32;  // where explanations and continuations start
constexpr size_t sLineWidth = 96;

void sOptionLine(const char* option, const std::string& explanation) {
  std::string line = "     ";
  line += option;
  if (line.size() < sOptionColumn) line.append(sOptionColumn - line.size(), ' ');
  line += "- ";
  // Wrap at word boundaries; continuation lines start at the explanation column.
  size_t column = line.size();
  size_t pos = 0;
  bool firstWord = true;
  while (pos < explanation.size()) {
    size_t space = explanation.find(' ', pos);
    if (space == std::string::npos) space = explanation.size();
    std::string word = explanation.substr(pos, space - pos);
    pos = space + 1;
    if (word.empty()) continue;
    if (!firstWord && column + 1 + word.size() > sLineWidth) {
      line += "\n";
      line.append(sExplanationColumn, ' ');
      column = sExplanationColumn;
    } else if (!firstWord) {
      line += " ";
      ++column;
    }
    line += word;
    column += word.size();
    firstWord = false;
  }
  fprintf(stderr, "%s\n", line.c_str());
}

void sParameters() {
  fprintf(stderr, "  Parameters to commands:\n");
  sOptionLine("-i <telvicor_directory>",
              "The Telvicor directory used for storage of firmware files. [Default: ~/.telvicor ].");
  sOptionLine("-b <build number>",
              "Build version of the firmware to transfer. [Default: latest version available].");
  sOptionLine("-d <device>", "Device serial number of the device to access.");
  sOptionLine("-t <transport type>", "communications method [USB,TCP,RECOVER].");
  sOptionLine("-f <bird file>", "Firmware file to be transferred to device.");
  sOptionLine("-r <router serial>", "indirect connection through router device");
  sOptionLine("-s <serial port>", "name of serial port to use for recovery");
  sOptionLine("-o <baud rate>",
              "baud rate for serial port (2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400)");
}

void sCommands() {
  fprintf(stderr, "\n  Commands:\n");
  sOptionLine("-B", "list the Builds available for given device.");
  sOptionLine("-L", "list the local Builds available for given device.");
  sOptionLine("-D", "Discover devices that are currently connected.");
  sOptionLine("-G",
              "Get build file from the Telvicor server and store on local machine for download to "
              "device. Must specify a specific device [\"-d\" option]. Default is to obtain the "
              "latest build for the given device, override with \"-b\" option.");
  sOptionLine("-U",
              "Update the firmware on device specified. Must specify a specific device [\"-d\" "
              "option]. Default is to download the latest build for the given device, override "
              "with \"-b\" option or specify specific BIRD file using \"-f\" option.");
  sOptionLine("-J", "Get a JWT containing the devices software features");
  sOptionLine("-H or -h", "Display extended usage information.");
  sOptionLine("--http", "Use HTTP for the update server (" + DefaultUpdateServerURL(false) + ")");
  sOptionLine("--https", "Use HTTPS for the update server (" + DefaultUpdateServerURL(true) +
                             "). Recommended; HTTPS will be the default in the next major "
                             "version.");
}

struct sPackage {
  const char* name;
  unsigned value;
};

// Groups are separated by a blank line (a null name).
const sPackage sPackages[] = {
    {"DEBUG_Updater", DEBUG_Updater},
    {"DEBUG_History", DEBUG_History},
    {"DEBUG_Attributes", DEBUG_Attributes},
    {"DEBUG_BirdFile", DEBUG_BirdFile},
    {nullptr, 0},
    {"DEBUG_Network", DEBUG_Network_Legacy},
    {"DEBUG_ServerComm", DEBUG_ServerComm},
    {nullptr, 0},
    {"DEBUG_Network", DEBUG_Network},
    {"DEBUG_Network_SR", DEBUG_Network_SR},
    {"DEBUG_Network_FIRM", DEBUG_Network_FIRM},
    {nullptr, 0},
    {"DEBUG_NXPSerial", DEBUG_NXPSerial},
    {"DEBUG_NXPSerial_E", DEBUG_NXPSerial_E},
    {"DEBUG_NXPSerial_SR", DEBUG_NXPSerial_SR},
    {nullptr, 0},
    {"DEBUG_APP", DEBUG_APP},
    {nullptr, 0},
    {"DEBUG_iMXSerial", DEBUG_iMXSerial},
};

void sPackageTable() {
  for (const sPackage& p : sPackages) {
    if (!p.name)
      fprintf(stderr, "\n");
    else
      fprintf(stderr, "%*s%-24s0x%08X\n", int(sExplanationColumn), "", p.name, p.value);
  }
}

void sExtended() {
  fprintf(stderr, "\n  Extended Parameters:\n");
  sOptionLine("-e", "echoing of bytes enabled during recovery.");
  sOptionLine("-m", "Attemps to use UEIBytes for faster loading");
  sOptionLine("-l 'log message'", "message to place in device history log");
  sOptionLine("-k <filename>", "log messages written into given filename Default:[APP.log]");
  sOptionLine("-u <host:port>",
              "The hostname and port of the update server, reached as http://host:port/cgi/u; "
              "a full URL (http://... or https://...) is used as given");
  fprintf(stderr, "%*s[Default: %s]\n", int(sExplanationColumn), "", DefaultUpdateServerHost());
  const std::string tlsNotes[] = {
      "HTTPS checks the server's certificate and host name",
      "against the system's CA store. A private mirror's CA:",
      std::string(HTTPRequest::CA_BUNDLE_ENV) + "=FILE (a PEM CA bundle). No check at all:",
      std::string(HTTPRequest::NO_VERIFY_ENV) + "=1 (logged as a warning).",
  };
  for (const std::string& note : tlsNotes)
    fprintf(stderr, "%*s%s\n", int(sExplanationColumn), "", note.c_str());

  fprintf(stderr, "\n  Extended Commands:\n");
  sOptionLine("-I",
              "View stored device information. Must either use DISCOVER command [\"-D\"] or "
              "specify a specific device [\"-d\" option].");
  sOptionLine("-OVERRIDE",
              "Override the model checks for BIRD firmware files. This option should only be used "
              "when authorized by Telvicor development engineers.");
  sOptionLine("-N", "Get fingerprint from a device, requires -s");
  sOptionLine("-X <BIT_MASK>", "Bitmask for Logging");
  sPackageTable();
  sOptionLine("-C", "Check the given BIRDFILE");
}

void sSample(const char* command, const char* explanation) {
  fprintf(stderr, "     %s\n%*s%s\n", command, int(sExplanationColumn), "", explanation);
}

void sSamples(const char* app) {
  std::string a(app);
  fprintf(stderr, "\n Sample usage:\n");
  sSample((a + " -D").c_str(), "Discover the devices on USB and on the local network.");
  sSample((a + " -D -t USB").c_str(), "Discover only the devices connected by USB.");
  sSample((a + " -G -d 40F5849A").c_str(),
          "Download the latest build for device 40F5849A into the local store.");
  sSample((a + " -U -d 40F5849A").c_str(),
          "Update device 40F5849A with the latest build available for it.");
  sSample((a + " -G -d 40F5849A -b 1234").c_str(),
          "Download build 1234 for device 40F5849A into the local store.");
  sSample((a + " -G -U -d 40F5849A").c_str(),
          "Download the latest build for device 40F5849A, then write exactly that build.");
  sSample((a + " -U -t RECOVER -s /dev/ttyUSB0").c_str(),
          "Recover a module whose firmware no longer runs, through its boot ROM on /dev/ttyUSB0.");

  fprintf(stderr, "\n Sample usage for network discovery and updates:\n");
  sSample((a + " -D -r 40F5849A").c_str(),
          "Discover the devices on the module network behind router 40F5849A.");
  sSample((a + " -G -U -d 4A3B2C1D -r 40F5849A").c_str(),
          "Download the latest build for device 4A3B2C1D and write it through router 40F5849A.");
  fprintf(stderr, "\n");
}

}  // namespace

void _display_usage(bool extended, bool full) {
  const char* app = "Updater";
  fprintf(stderr,
          "\nApplication Usage:\n%s <-B | -D | -G | -U > [-Hh | --help] [-b build_num]\n"
          "    [-d serial_num]\n    [-t transport] [-r router_serial]\n"
          "    [-s serial_port] [-o baud_rate]\n\n"
          "  Quillnode Update and Maintenance Application\n"
          "    -H -h or --help for full usage information.\n\n",
          app);
  if (!full) return;
  sParameters();
  sCommands();
  if (extended) sExtended();
  sSamples("updater");
}
