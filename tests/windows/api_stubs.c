/* Each function of mokavi.h with an empty body, compiled for 32-bit Windows
 * as the library itself would be: the definitions must match the header's
 * declarations, and the object's symbols show the calling convention and
 * the argument sizes the header gives each function. */
#define MOKAVI_BUILDING
#include "mokavi.h"

int32_t MOKAVI_CALL MkGetVersion(void) { return 0; }
MkInterpreter* MOKAVI_CALL MkCreateInterpreter(void) { return 0; }
void MOKAVI_CALL MkDestroyInterpreter(MkInterpreter* interp) { (void)interp; }
int32_t MOKAVI_CALL MkSetWideAPI(MkInterpreter* interp, int32_t flag) { (void)interp; return flag; }
MkSv* MOKAVI_CALL MkSvEval(MkInterpreter* interp, const void* source) { (void)interp; (void)source; return 0; }
MkSv* MOKAVI_CALL MkSvEvalSv(MkInterpreter* interp, MkSv* code) { (void)interp; (void)code; return 0; }
MkSv* MOKAVI_CALL MkErrSv(MkInterpreter* interp) { (void)interp; return 0; }
MkSv* MOKAVI_CALL MkCompErrSv(MkInterpreter* interp) { (void)interp; return 0; }
MkSv* MOKAVI_CALL MkGetSV(MkInterpreter* interp, const void* name, int32_t create) { (void)interp; (void)name; (void)create; return 0; }
MkAv* MOKAVI_CALL MkGetAV(MkInterpreter* interp, const void* name, int32_t create) { (void)interp; (void)name; (void)create; return 0; }
MkHv* MOKAVI_CALL MkGetHV(MkInterpreter* interp, const void* name, int32_t create) { (void)interp; (void)name; (void)create; return 0; }
MkSv* MOKAVI_CALL MkSvNew(MkInterpreter* interp) { (void)interp; return 0; }
void MOKAVI_CALL MkSvSetPv(MkInterpreter* interp, MkSv* sv, const void* text) { (void)interp; (void)sv; (void)text; }
int32_t MOKAVI_CALL MkSvLEN(MkInterpreter* interp, MkSv* sv) { (void)interp; (void)sv; return 0; }
void MOKAVI_CALL MkSvGET(MkInterpreter* interp, MkSv* sv, void* buffer, int32_t length) { (void)interp; (void)sv; (void)buffer; (void)length; }
void MOKAVI_CALL MkSvDeRef(MkInterpreter* interp, MkSv* sv) { (void)interp; (void)sv; }
int32_t MOKAVI_CALL MkAvLEN(MkInterpreter* interp, MkAv* av) { (void)interp; (void)av; return 0; }
MkSv* MOKAVI_CALL MkSvFetchAV(MkInterpreter* interp, MkAv* av, int32_t index) { (void)interp; (void)av; (void)index; return 0; }
MkSv** MOKAVI_CALL MkStoreAv(MkInterpreter* interp, MkAv* av, int32_t index, MkSv* sv) { (void)interp; (void)av; (void)index; (void)sv; return 0; }
void MOKAVI_CALL MkExtendAv(MkInterpreter* interp, MkAv* av, int32_t index) { (void)interp; (void)av; (void)index; }
void MOKAVI_CALL MkUndefAV(MkInterpreter* interp, MkAv* av) { (void)interp; (void)av; }
