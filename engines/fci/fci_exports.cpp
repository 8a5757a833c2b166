// The entry points of the cabinet writer library.
#include "engines/fci/fci.h"
#include "engines/fci/fci_engine.h"

#define FCI_EXPORT extern "C" __attribute__((visibility("default")))

FCI_EXPORT HFCI FCICreate(ERF* perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf,
                          PFNFCIOPEN pfnopen, PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose,
                          PFNFCISEEK pfnseek, PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab,
                          void* pv) {
    return varnok::fci::Create(perf, pfnfcifp, pfna, pfnf, pfnopen, pfnread, pfnwrite, pfnclose, pfnseek,
                               pfndelete, pfnfcigtf, pccab, pv);
}

FCI_EXPORT int FCIAddFile(HFCI hfci, char* pszSourceFile, char* pszFileName, int fExecute,
                          PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis, PFNFCIGETOPENINFO pfnfcigoi,
                          TCOMP typeCompress) {
    return varnok::fci::AddFile(hfci, pszSourceFile, pszFileName, fExecute, pfnfcignc, pfnfcis, pfnfcigoi,
                                typeCompress);
}

FCI_EXPORT int FCIFlushCabinet(HFCI hfci, int fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis) {
    return varnok::fci::FlushCabinet(hfci, fGetNextCab, pfnfcignc, pfnfcis);
}

FCI_EXPORT int FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis) {
    return varnok::fci::FlushFolder(hfci, pfnfcignc, pfnfcis);
}

FCI_EXPORT int FCIDestroy(HFCI hfci) { return varnok::fci::Destroy(hfci); }
