/* tests/contract/contract_probe.c - compiled (never run) as C and as C++ by
** check_contract_header.cmake, with each compiler and target the contract
** must build with. Including the header runs every size and offset check;
** the lines below add what only a user of the header shows. */
#include "sdk/contract/korvo_plugin.h"

#define KORVO_PROBE_TEXT2(x) #x
#define KORVO_PROBE_TEXT(x) KORVO_PROBE_TEXT2(x)

/* The calling convention is spelled the way the compiler in use expects. */
#if defined(_MSC_VER)
KORVO_STATIC_ASSERT(sizeof(KORVO_PROBE_TEXT(KORVO_CDECL)) == sizeof("__cdecl"), "Microsoft spelling");
#elif defined(__i386__)
KORVO_STATIC_ASSERT(sizeof(KORVO_PROBE_TEXT(KORVO_CDECL)) == sizeof("__attribute__((cdecl))"), "GNU spelling");
#else
KORVO_STATIC_ASSERT(sizeof(KORVO_PROBE_TEXT(KORVO_CDECL)) == 1, "one convention, no marker");
#endif

/* The figures of the 32-bit build, written out once more as literals. */
#if UINTPTR_MAX == 0xFFFFFFFFu
KORVO_STATIC_ASSERT(sizeof(KorvoHostValue) == 12, "HostValue");
KORVO_STATIC_ASSERT(sizeof(KorvoHostEventRecord) == 24, "HostEventRecord");
KORVO_STATIC_ASSERT(sizeof(KorvoHostRequestRecord) == 48, "HostRequestRecord");
KORVO_STATIC_ASSERT(sizeof(KorvoHostResponseRecord) == 62, "HostResponseRecord");
KORVO_STATIC_ASSERT(offsetof(KorvoHostResponseRecord, release) == 58, "HostResponseRecord.release");
KORVO_STATIC_ASSERT(sizeof(KorvoHostFunctionRecord) == 90, "HostFunctionRecord");
KORVO_STATIC_ASSERT(offsetof(KorvoHostFunctionRecord, functionName) == 86, "HostFunctionRecord.functionName");
KORVO_STATIC_ASSERT(sizeof(KorvoPluginLoadContext) == 28, "PluginLoadContext");
KORVO_STATIC_ASSERT(sizeof(KorvoHostFunctions) == 40, "HostFunctions");
#else
KORVO_STATIC_ASSERT(sizeof(KorvoHostValue) == 16, "HostValue");
KORVO_STATIC_ASSERT(sizeof(KorvoHostResponseRecord) == 94, "HostResponseRecord");
KORVO_STATIC_ASSERT(sizeof(KorvoHostFunctionRecord) == 150, "HostFunctionRecord");
#endif
KORVO_STATIC_ASSERT(sizeof(KorvoPluginMemoryStats) == 56, "PluginMemoryStats");

/* Codes fit the fields that carry them. */
KORVO_STATIC_ASSERT(KORVO_METHOD_CALL == 8 && KORVO_LOCATION_BODY == 5 && KORVO_CONTENT_MESSAGE_PACK == 3 &&
                        KORVO_KIND_MAP == 19 && KORVO_VALUE_OBJECT == 10 && KORVO_LOG_ALWAYS == 3,
                    "last code of each set");

/* A check that does not hold must stop the build in every dialect. */
#ifdef KORVO_PROBE_MUST_FAIL
KORVO_STATIC_ASSERT(sizeof(KorvoHostValue) == 13, "korvo-probe-must-fail");
#endif

/* The function types accept functions written with the header's markers. */
static void KORVO_CDECL ProbeEvent(const KorvoHostEventRecord* event) { (void)event; }
static void KORVO_CDECL ProbeRelease(KorvoHostResponseRecord* response) { (void)response; }
static KorvoBool KORVO_CDECL ProbeRead(void* stream, char* buffer, uint32_t* count, KorvoBool* more) {
    (void)stream;
    (void)buffer;
    *count = 0;
    *more = 0;
    return 1;
}

KORVO_EXPORT void* KORVO_CDECL korvo_contract_probe_load(KorvoPluginLoadContext* context);
void* KORVO_CDECL korvo_contract_probe_load(KorvoPluginLoadContext* context) {
    KorvoHostResponseRecord response;
    KorvoHostEventCallback onEvent = &ProbeEvent;
    KorvoLoadPluginFn self = &korvo_contract_probe_load;
    response.release = &ProbeRelease;
    response.streamRead = &ProbeRead;
    (void)onEvent;
    (void)self;
    (void)response;
    return context != NULL && KorvoMethodName(KORVO_METHOD_GET)[0] == 'G' &&
                   KorvoTypeKindName(KORVO_KIND_MAP)[0] == 'm'
               ? context->plugin
               : NULL;
}
