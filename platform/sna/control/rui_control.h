/* Control interface of the stand-in LUA RUI stack, for tests, benchmarks and the demo.
   It is not part of the interface an RUI program sees (lua.h). */
#ifndef SNA_RUI_CONTROL_H
#define SNA_RUI_CONTROL_H

#include "lua.h"

#ifdef __cplusplus
extern "C" {
#endif

/* LU names the stack serves after a reset (8 characters, blank padded when shorter). */
#define RUI_DEMO_LU "LU0DEMO"
#define RUI_SECOND_LU "LU0TWO"

/* How verbs complete. */
typedef enum {
    RUI_COMPLETE_INLINE = 0, /* before RUI returns (async clear) */
    RUI_COMPLETE_ASYNC = 1   /* RUI returns with async set; the stack's thread finishes the
                                record and the buffer, then signals lua_post_handle */
} RuiCompletion;

/* What the simulated host application sends for each request unit written to it: after a
   reset it answers every write with a positive response carrying the text
   "HOST REPLY TO " followed by the data it received (cut to 256 bytes), as LU-normal data. */
typedef struct {
    const unsigned char *data; /* response data (copied) */
    uint16_t length;
    unsigned char message_type; /* LUA_MESSAGE_TYPE_... */
    LUA_TH th;                  /* as delivered to the reader */
    LUA_RH rh;
    LUA_FLAG2 flags;            /* flow flags of the delivery (lu_norm, sscp_norm ...) */
} RuiHostUnit;

/* Ends every session, wakes and fails every outstanding verb (LUA_CANCELLED), joins the
   stack's threads, forgets scripts and the verb log, and restores the defaults. */
SNA_API void ruiCtl_Reset(void);

/* Adds an LU name the stack accepts for RUI_INIT. */
SNA_API void ruiCtl_AddLu(const char *lu_name);

/* Completion mode for every later verb, and the delay (ms) of asynchronous completions. */
SNA_API void ruiCtl_SetCompletion(RuiCompletion mode, int delay_ms);

/* Queues a unit of data from the host on a session, as if the host had sent it unasked;
   a waiting read or bid completes with it. */
SNA_API void ruiCtl_QueueHostData(uint32_t session_id, const RuiHostUnit *unit);

/* Replaces the host's answer to writes: each later write on any session is answered with
   the next scripted unit (the default answer returns when the script runs out). count 0
   removes the script. A unit with length 0 and message type 0 means "no answer". */
SNA_API void ruiCtl_ScriptHostAnswers(const RuiHostUnit *units, int count);

/* The next verb with this opcode completes with these codes and nothing else happens
   (the record's other fields are left as the bridge passed them). */
SNA_API void ruiCtl_ForceReturnCode(uint16_t opcode, uint16_t prim_rc, uint32_t sec_rc);

/* The next read fills this many bytes into the buffer but reports data_length as given,
   simulating a stack that claims more than the buffer holds. */
SNA_API void ruiCtl_ReportReadLength(uint16_t reported_length);

/* What the bridge passed: a copy of each verb record as RUI received it, and for writes the
   data bytes it pointed to (first RUI_LOG_BYTES). */
#define RUI_LOG_BYTES 512
typedef struct {
    LUA_VERB_RECORD record;   /* as received, before the stack changed anything */
    int had_data_ptr;         /* lua_data_ptr was not null */
    unsigned char data[RUI_LOG_BYTES];
    int data_count;           /* bytes copied into data (writes: min(data_length, RUI_LOG_BYTES)) */
    int completed_async;      /* 1 if this verb completed through the event */
} RuiVerbLog;

SNA_API int ruiCtl_VerbCount(void);
SNA_API int ruiCtl_GetVerb(int index, RuiVerbLog *entry); /* 1 if index exists, else 0 */

/* Sessions the stack holds. */
SNA_API int ruiCtl_SessionCount(void);

/* Verbs RUI accepted and has not completed yet. */
SNA_API int ruiCtl_OutstandingCount(void);

#ifdef __cplusplus
}
#endif

#endif
