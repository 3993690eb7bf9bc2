/* A C consumer built with the flags `pkg-config --cflags --libs mokavi` gives. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mokavi.h>

int main(void) {
    MkInterpreter *perl = MkCreateInterpreter();
    if (!perl) return 1;
    MkSv *result = MkSvEval(perl, "uc 'pkg' . '-config'");
    int32_t n = MkSvLEN(perl, result);
    char *text = malloc((size_t)n + 1);
    MkSvGET(perl, result, text, n);
    text[n] = '\0';
    printf("pkg-config consumer: %s\n", text);
    int ok = result != NULL && MkGetVersion() == 1200 && strcmp(text, "PKG-CONFIG") == 0;
    free(text);
    MkDestroyInterpreter(perl);
    return ok ? 0 : 1;
}
