// The download commands of the menus.
//
//   32  DownloadFiles(argument, 0): names the caller types, from a file
//       area ("/F", "$F" and a number) or a directory;
//   48  DownloadFiles(argument, 1): the files the argument names, a
//       directory and a name or pattern, "/ratio=no" after it to leave the
//       ratios out;
//   55  DownloadByPath: one file by a path the caller types.
//
// A directory that is no file area is no open area: its files are checked
// against the ratios and counted into the caller's totals as a closed
// area's are.
//
// Commands 32 and 48 first ask the line speed and the download hours.
#pragma once

#include <string>

namespace kv::caller {

void DownloadFiles(const std::string& argument, int mode);
void DownloadFromArea(const std::string& argument);
void DownloadListed(const std::string& argument);
void DownloadByPath();

// The bps downloads need for MinDownloadSpeed (0 300, 1 1200, else 2400).
long NeededDownloadSpeed(int minDownloadSpeed);

}  // namespace kv::caller
