// Figures of the registry store file against its size: the first reading of a
// store of n keys, one line-settings operation (a batch of reads and a write),
// a single read outside a batch, and a change. Each should grow in proportion
// to n.

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/store/registry.h"

namespace {

using namespace loopmon;
using Steady = std::chrono::steady_clock;

constexpr const char* Rs = "Software\\TAVIX\\VELTA\\RS";

double millisSince(Steady::time_point start) {
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

void writeStore(const std::string& path, int keys) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "Windows Registry Editor Version 5.00\n\n";
  for (int i = 0; i < keys; ++i) {
    out << "[HKEY_LOCAL_MACHINE\\Enum\\BIOS\\*PNP0501\\" << i << "]\n\"PortName\"=\"COM" << i
        << "\"\n\"Settings\"=hex:00,01,02,03\n\n";
  }
  out << "[HKEY_LOCAL_MACHINE\\Software\\TAVIX\\VELTA\\RS]\n\"TimeoutConstant\"=dword:0000001e\n";
}

}  // namespace

int main() {
  std::string dir = (std::filesystem::temp_directory_path() / "loopmon-bench-XXXXXX").string();
  if (!::mkdtemp(dir.data())) return 1;
  const std::string path = dir + "/system.reg";
  std::printf("%8s %10s %12s %14s %12s %12s\n", "keys", "size KB", "first ms", "operation ms",
              "read ms", "change ms");
  for (int keys : {1000, 5000, 10000, 20000, 40000}) {
    writeStore(path, keys);
    auto reg = openRegistryFile(path);
    auto start = Steady::now();
    reg->read(Rs, "TimeoutConstant");
    const double first = millisSince(start);

    start = Steady::now();
    {
      const Registry::Batch batch(*reg);
      reg->createKey(Rs);
      for (const char* name :
           {"IntervalTimeout", "SmartPI", "USARTMode", "TimeoutMultiplier", "TimeoutConstant",
            "CmdIntervalTimeout", "CmdTimeoutMultiplier", "CmdTimeoutConstant", "DeviceTimeout",
            "SpeedRSS", "StartTimeout", "TailInUS"}) {
        reg->read(Rs, name);
      }
      reg->write(Rs, "TailInUS", RegValue::ofDword(400));
    }
    const double operation = millisSince(start);

    start = Steady::now();
    reg->read(Rs, "TailInUS");
    const double read = millisSince(start);

    start = Steady::now();
    reg->write(Rs, "StartTimeout", RegValue::ofDword(4));
    const double change = millisSince(start);

    std::printf("%8d %10.0f %12.1f %14.1f %12.1f %12.1f\n", keys,
                std::filesystem::file_size(path) / 1024.0, first, operation, read, change);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
