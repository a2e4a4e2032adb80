/* A recorder in miniature, built against the installed library only: it
 * defines every platform symbol itself (no stand-in anywhere), so the
 * library's calls into the platform must bind to this program. Its XML
 * helper counts elements with Mini-XML, as a recorder's platform does, so
 * the program links Mini-XML itself. Run with LD_BIND_NOW=1 so that an
 * unresolved symbol fails at load time.
 *   consumer EXPECTED_VERSION
 * Built with CONSUMER_DLOPEN, it loads the library with dlopen instead of
 * linking it: the platform symbols of the executable are then found only
 * when it was linked with -rdynamic.
 *   consumer LIBRARY EXPECTED_VERSION */
#include <mxml.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vek_onvif_event.h"
#include "vek_platform.h"

/* ---- The program's platform ---------------------------------------------- */

void *ghVekMgrModHdl = NULL;
int32_t gS32AlarmDftPort = 24000;

static unsigned allocations, releases, log_lines;

void *ZU_MEM_MallocEx(void *module, size_t size, const char *file, int line)
{
    (void)module, (void)file, (void)line;
    ++allocations;
    return malloc(size);
}

void *ZU_MEM_RallocEx(void *module, void *block, size_t size, const char *file, int line)
{
    (void)module, (void)file, (void)line;
    return realloc(block, size);
}

void ZU_MEM_FreeEx(void **pp, const char *file, int line)
{
    (void)file, (void)line;
    if (pp != NULL && *pp != NULL) {
        ++releases;
        free(*pp);
        *pp = NULL;
    }
}

void *ZU_memcpy(void *dst, const void *src, size_t n)
{
    return memcpy(dst, src, n);
}

int ZU_snprintf(char *buf, size_t size, const char *fmt, ...)
{
    va_list args;
    int n;
    va_start(args, fmt);
    n = vsnprintf(buf, size, fmt, args);
    va_end(args);
    return n;
}

char *ZU_strnstr(const char *text, const char *word, size_t n)
{
    size_t len = strlen(text);
    size_t i;
    for (i = 0; n <= len && i <= len - n; ++i) {
        if (strncmp(text + i, word, n) == 0)
            return (char *)(text + i);
    }
    return NULL;
}

void ZU_WriteLog(int32_t level, uint32_t code, int32_t arg3, uint32_t arg4, const char *file,
                 int line, const char *func, const char *fmt, ...)
{
    (void)level, (void)code, (void)arg3, (void)arg4, (void)file, (void)line, (void)func, (void)fmt;
    ++log_lines;
}

void VEK_SOAP_PUB_LogPrintImp(struct soap *soap, const char *file, int line, const char *func,
                              const char *fmt, ...)
{
    (void)soap, (void)file, (void)line, (void)func, (void)fmt;
    ++log_lines;
}

uint32_t TAV_GetLocalSockAddr(void *key, char *addr64)
{
    (void)key;
    snprintf(addr64, 64, "127.0.0.1");
    return 0;
}

uint32_t VEK_PUB_GetDevPortInfo(VEK_PUB_DevPortInfo *info)
{
    memset(info, 0, sizeof *info);
    info->usPort = 80;
    return 0;
}

int __wrap_close(int fd)
{
    (void)fd;
    return 0;
}

uint32_t VEK_CFG_GetChildrenNodeCount(struct _mxml_node_s *node, const char *name)
{
    uint32_t count = 0;
    mxml_node_t *found = node;
    if (node == NULL || name == NULL)
        return 0;
    while ((found = mxmlFindElement(found, node, name, NULL, NULL, MXML_DESCEND)) != NULL)
        ++count;
    return count;
}

uint32_t VEK_PUB_DeleteNodeProperty(char *xml)
{
    (void)xml;
    return 0;
}

/* ---- Calls into the library ---------------------------------------------- */

static int fail(const char *what)
{
    fprintf(stderr, "consumer: %s\n", what);
    return 1;
}

#ifdef CONSUMER_DLOPEN
#include <dlfcn.h>

int main(int argc, char **argv)
{
    void *library;
    const char *(*version)(void);
    if (argc != 3)
        return fail("usage: consumer LIBRARY EXPECTED_VERSION");
    library = dlopen(argv[1], RTLD_NOW);
    if (library == NULL) {
        fprintf(stderr, "consumer: %s\n", dlerror());
        return 1;
    }
    *(void **)&version = dlsym(library, "VEK_Onvif_GetVersion");
    if (version == NULL || strcmp(version(), argv[2]) != 0)
        return fail("the loaded library has another version");
    printf("consumer: libvek_onvif_event %s loaded, platform bound to the program\n", version());
    return 0;
}
#else
/* A one-topic set as the library reads it ("<Message>...</Message>"),
 * written without prefixes. */
static const char kTopicSet[] =
    "<Message><VideoSource topic=\"true\"><MotionAlarm topic=\"true\">"
    "<MessageDescription IsProperty=\"true\"><Source>"
    "<SimpleItemDescription Name=\"Source\" Type=\"tt:ReferenceToken\"/></Source><Data>"
    "<SimpleItemDescription Name=\"State\" Type=\"xs:boolean\"/></Data>"
    "</MessageDescription></MotionAlarm></VideoSource></Message>";

int main(int argc, char **argv)
{
    OnvifAlarmCfg cfg;
    OnvifAlarmTemplate templ;
    struct soap *ctx = NULL;

    if (argc != 2)
        return fail("usage: consumer EXPECTED_VERSION");
    if (strcmp(VEK_Onvif_GetVersion(), argv[1]) != 0 ||
        strcmp(VEK_ONVIF_EVENT_VERSION, argv[1]) != 0) {
        fprintf(stderr, "consumer: library %s, header %s, expected %s\n", VEK_Onvif_GetVersion(),
                VEK_ONVIF_EVENT_VERSION, argv[1]);
        return 1;
    }

    /* A refused argument is logged through the program's ZU_WriteLog. */
    memset(&cfg, 0, sizeof cfg);
    if (VEK_Onvif_AddToCFGAlarm(NULL, &cfg) != VEK_ONVIF_ERR_PARAM || log_lines != 1)
        return fail("a refused argument did not reach the program's log");

    /* A template appended with the program's ZU_memcpy, released with its
     * ZU_MEM_FreeEx. */
    memset(&templ, 0, sizeof templ);
    templ.AlarmType = VEK_ALARM_MOTION;
    templ.SourceCount = 1;
    templ.SourceItems =
        ZU_MEM_MallocEx(ghVekMgrModHdl, sizeof(OnvifSimpleItem), __FILE__, __LINE__);
    cfg.pstPropeAlarmInfo =
        ZU_MEM_MallocEx(ghVekMgrModHdl, sizeof(OnvifAlarmTemplate), __FILE__, __LINE__);
    if (templ.SourceItems == NULL || cfg.pstPropeAlarmInfo == NULL)
        return fail("out of memory");
    memset(templ.SourceItems, 0, sizeof(OnvifSimpleItem));
    if (VEK_Onvif_AddToCFGAlarm(&templ, &cfg) != VEK_ONVIF_OK || cfg.PropeAlarmCount != 1 ||
        cfg.pstPropeAlarmInfo[0].AlarmType != VEK_ALARM_MOTION)
        return fail("template not appended");
    VEK_Onvif_Event_FreePropeAlarm(&cfg);
    if (releases != 2 || allocations != 2 || cfg.pstPropeAlarmInfo != NULL)
        return fail("the library did not release through the program's allocator");

    /* gSOAP through the library: an event context with an addressing header. */
    VEK_Onvif_Event_Init(&ctx);
    if (ctx == NULL)
        return fail("no event context");
    if (VEK_Onvif_HeaderEnc(1, "http://127.0.0.1/onvif/event_service", ctx) != VEK_ONVIF_OK)
        return fail("addressing header failed");
    VEK_Onvif_Event_Destroy(&ctx);

    /* Discovery counts a template's items through the program's Mini-XML helper. */
    memset(&cfg, 0, sizeof cfg);
    if (VEK_Onvif_Event_ParsePropeMsg(kTopicSet, &cfg) != VEK_ONVIF_OK ||
        cfg.PropeAlarmCount != 1 || cfg.pstPropeAlarmInfo[0].SourceCount != 1 ||
        cfg.pstPropeAlarmInfo[0].DataCount != 1)
        return fail("the topic set gave no motion template with one Source and one Data item");
    VEK_Onvif_Event_FreePropeAlarm(&cfg);

    printf("consumer: libvek_onvif_event %s, platform bound to the program\n",
           VEK_Onvif_GetVersion());
    return 0;
}
#endif
