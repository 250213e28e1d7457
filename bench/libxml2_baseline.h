#ifndef BENCH_LIBXML2_BASELINE_H
#define BENCH_LIBXML2_BASELINE_H

// The baseline of the configuration benchmarks: libxml2 alone doing the part of a load that it
// can do by itself.

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlschemas.h>

#include <string>

namespace benchsupport {

// Parses the file and validates it against the schema (read anew each time, as a load does);
// true when it is valid.
inline bool Libxml2ParseAndValidate(const std::string& file, const std::string& schemaFile)
{
    xmlDocPtr doc = xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET);
    xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt(schemaFile.c_str());
    xmlSchemaPtr schema = xmlSchemaParse(parser);
    xmlSchemaValidCtxtPtr validation = xmlSchemaNewValidCtxt(schema);
    const bool valid = doc != nullptr && xmlSchemaValidateDoc(validation, doc) == 0;
    xmlSchemaFreeValidCtxt(validation);
    xmlSchemaFree(schema);
    xmlSchemaFreeParserCtxt(parser);
    xmlFreeDoc(doc);
    return valid;
}

} // namespace benchsupport

#endif
