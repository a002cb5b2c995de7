// libFuzzer target: any bytes as a stored list file, through the checks and
// the parser the program reads its files with, then every element, attribute
// and text walked as the lists are loaded.
#include "core/XmlFile.h"

#include <tinyxml.h>

#include <cstdint>

namespace {
void Walk(const TiXmlElement *element, int depth)
{
    for (; element; element = element->NextSiblingElement()) {
        for (const TiXmlAttribute *a = element->FirstAttribute(); a; a = a->Next())
            (void)QString::fromLocal8Bit(a->Value());
        (void)XmlFile::ElementText(element);
        Walk(element->FirstChildElement(), depth + 1);
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TiXmlDocument doc;
    if (XmlFile::Parse(QByteArray(reinterpret_cast<const char *>(data), int(size)), &doc))
        Walk(doc.FirstChildElement(), 0);
    return 0;
}
