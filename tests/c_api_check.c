/* Compiled as strict C99 against the public header and linked against the
 * shared library: proves the interface is plain C and that the library
 * loads with every symbol bound (LD_BIND_NOW). */
#include <stdio.h>
#include <string.h>

#include "vek_onvif_event.h"

int main(void)
{
    SHA1State state;
    unsigned char digest[20];
    const unsigned char abc[] = "abc";
    static const unsigned char expected[20] = {0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81,
                                               0x6a, 0xba, 0x3e, 0x25, 0x71, 0x78, 0x50,
                                               0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d};
    struct soap *ctx = NULL;

    SHA1Reset(&state);
    SHA1Input(abc, 3, &state);
    if (SHA1ResultOut(&state, digest) != 0 || memcmp(digest, expected, 20) != 0) {
        fprintf(stderr, "SHA-1 through the C interface gave a wrong digest\n");
        return 1;
    }
    VEK_Onvif_Event_Init(&ctx);
    if (ctx == NULL) {
        fprintf(stderr, "no event context\n");
        return 1;
    }
    if (VEK_Onvif_HeaderEnc(1, "http://127.0.0.1/onvif/event_service", ctx) != VEK_ONVIF_OK) {
        fprintf(stderr, "addressing header failed\n");
        return 1;
    }
    VEK_Onvif_Event_Destroy(&ctx);
    return ctx == NULL ? 0 : 1;
}
