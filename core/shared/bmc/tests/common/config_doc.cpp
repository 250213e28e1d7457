#include "config_doc.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include "istd/exception.h"

namespace bmctest {

std::string ConfigDataPath(const std::string& name)
{
    return std::string(KAVREL_TEST_DATA_DIR) + "/" + name;
}

std::string ConfigDocument(const std::string& firmware, const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration>\n<" + firmware + ">\n" + body + "\n</" +
           firmware + ">\n</configuration>\n";
}

bool ReadConfigText(bmc::ConfigMng& reader, const std::string& xml)
{
    char path[] = "/tmp/bmc_config_doc_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        throw istd::Exception("cannot create a temporary document", true);
    }
    close(fd);
    {
        std::ofstream out(path, std::ios::binary);
        out << xml;
    }
    try {
        bmc::BoardConfig::GetInstance().OpenDocument(path, false);
        const bool found = bmc::BoardConfig::GetInstance().Read(reader);
        std::remove(path);
        return found;
    } catch (...) {
        std::remove(path);
        throw;
    }
}

bool ReadConfigFile(bmc::ConfigMng& reader, const std::string& name)
{
    bmc::BoardConfig::Init(ConfigDataPath(name));
    return bmc::BoardConfig::GetInstance().Read(reader);
}

} // namespace bmctest
