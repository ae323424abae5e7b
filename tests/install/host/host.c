/* A host program built against an installed Kestrun: one export, one BSTR freed through
 * liboleaut, and one evaluator call. Prints what it got and exits 0 when all three worked. */
#include <kestrun.h>

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

/* The evaluator's two exports. */
char *eval(const unsigned char *code, size_t len, uint32_t timeout_ms);
void free_result(char *result);

int main(void) {
    BSTR encoded = Base64Encode_GB("abc");
    const int encodedOk =
        encoded != NULL && SysStringByteLen(encoded) == 4 && memcmp(encoded, "YWJj", 4) == 0;
    printf("Base64Encode_GB: %.*s\n", encoded ? (int)SysStringByteLen(encoded) : 0,
           encoded ? (const char *)encoded : "");
    SysFreeString(encoded);

    char *json = eval(NULL, 0, 100);
    const int evalOk = json != NULL && strstr(json, "error") != NULL;
    printf("eval: %s\n", json ? json : "(null)");
    free_result(json);
    return encodedOk && evalOk ? 0 : 1;
}
