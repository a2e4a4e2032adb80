// gSOAP interface of the recorder's own module in the coexistence tests: a
// SOAP header with one token and one operation, generated at build time by
// the system soapcpp2 with the default runtime names (soap_getheader,
// soap_putheader, namespaces, ...), the names a recorder's generated ONVIF
// code brings along.
//
// (The //gsoap directives must keep their spelling.)
// clang-format off

//gsoap ns service name: recorder
//gsoap ns service namespace: urn:vek-coexist-recorder
//gsoap ns service location: http://127.0.0.1/recorder
//gsoap ns schema namespace: urn:vek-coexist-recorder
//gsoap ns schema elementForm: qualified

struct SOAP_ENV__Header {
    char *ns__Token;
};

//gsoap ns service method-action: Ping urn:vek-coexist-recorder/Ping
int ns__Ping(char *text, char **echo);
