#include "Vdirsyncer.h"

#include "FileBytes.h"

namespace kxtest {

const char kVdirsyncerPath[] = "/usr/bin/vdirsyncer";

void writeVdirsyncerConfig(const std::string &path, const VdirsyncerPair &pair) {
  writeFile(path,
            "[general]\nstatus_path = \"" + pair.statusDir +
                "/\"\n\n[pair book]\na = \"local\"\nb = \"remote\"\ncollections = [\"from b\"]\n"
                "conflict_resolution = " +
                pair.resolution + "\n\n[storage local]\ntype = \"filesystem\"\npath = \"" + pair.localDir +
                "/\"\nfileext = \".vcf\"\n\n[storage remote]\ntype = \"carddav\"\n"
                "url = \"http://127.0.0.1:" +
                std::to_string(pair.port) + "/\"\nusername = \"me\"\npassword = \"" + pair.password + "\"\n");
}

}  // namespace kxtest
