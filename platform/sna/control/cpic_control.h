/* Control interface of the stand-in CPI-C stack, for tests, benchmarks and the demo.
   It is not part of the interface a CPI-C program sees (cpic.h). */
#ifndef SNA_CPIC_CONTROL_H
#define SNA_CPIC_CONTROL_H

#include "cpic.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Built-in side information after a reset: symbolic destination "ECHO" names the built-in
   partner program "ECHOTP", which echoes every record it receives when it gets the turn. */
#define CPIC_ECHO_DESTINATION "ECHO"
#define CPIC_ECHO_TP "ECHOTP"

/* One step of a scripted partner transaction program. Steps run in order on the stack's own
   thread; when the script ends the partner deallocates normally. */
typedef enum {
    CPIC_STEP_WAIT_TURN = 1,    /* wait until the local program gives up send control (or ends) */
    CPIC_STEP_SEND,             /* send one record: data, length */
    CPIC_STEP_GIVE_TURN,        /* prepare to receive: the local side gets CM_SEND_RECEIVED */
    CPIC_STEP_CONFIRM,          /* ask for confirmation; waits for cmcfmd or cmserr */
    CPIC_STEP_CONFIRM_DEALLOCATE, /* deallocate with confirmation; waits for cmcfmd or cmserr */
    CPIC_STEP_DEALLOCATE,       /* end normally: the local side gets CM_DEALLOCATED_NORMAL */
    CPIC_STEP_ABEND,            /* end abnormally: the local side gets CM_DEALLOCATED_ABEND */
    CPIC_STEP_SEND_ERROR,       /* report an error: the local side gets CM_PROGRAM_ERROR_PURGING */
    CPIC_STEP_REQUEST_TO_SEND,  /* raise request-to-send for the local program's next calls */
    CPIC_STEP_DELAY,            /* sleep for value milliseconds */
    CPIC_STEP_ECHO              /* behave as the echo partner from here on */
} CpicStepKind;

typedef struct {
    CpicStepKind kind;
    const unsigned char *data; /* CPIC_STEP_SEND: the record (copied by cpicCtl_DefinePartner) */
    CM_INT32 value;            /* CPIC_STEP_SEND: length; CPIC_STEP_DELAY: milliseconds */
} CpicPartnerStep;

/* A record of one CPI-C call as the stack received it. */
#define CPIC_LOG_BYTES 256
typedef struct {
    char call[8];                  /* "cmsend", "cminit", ... NUL terminated */
    unsigned char conversation_ID[CM_CID_SIZE]; /* as passed (zero for calls without one) */
    CM_INT32 value;                /* characteristic value, send/requested/TP name length */
    CM_INT32 return_code;          /* what the call returned */
    CM_INT32 byte_count;           /* bytes passed (data sent, TP name, destination), in full */
    unsigned char bytes[CPIC_LOG_BYTES]; /* the first CPIC_LOG_BYTES of them */
} CpicCallRecord;

/* Ends every conversation, forgets scripts, forced codes, pending incoming allocations and the
   call log, and restores the built-in side information. */
SNA_API void cpicCtl_Reset(void);

/* Maps a symbolic destination name (up to 8 characters) to a partner TP name. */
SNA_API void cpicCtl_DefineSideInfo(const char *symbolic_destination, const char *partner_tp);

/* Defines (or replaces) the partner program that answers conversations allocated to tp_name. */
SNA_API void cpicCtl_DefinePartner(const char *tp_name, const CpicPartnerStep *steps, int count);

/* Queues an incoming allocation for the local TP name given with cmsltp; the partner side
   runs the program defined for partner_tp. cmacci picks up the oldest one. */
SNA_API void cpicCtl_QueueIncoming(const char *local_tp, const char *partner_tp);

/* The next call of this name returns return_code at once without doing anything else. */
SNA_API void cpicCtl_ForceReturnCode(const char *call, CM_INT32 return_code);

/* How long cmacci waits for an incoming allocation before CM_PRODUCT_SPECIFIC_ERROR
   (default 5000 ms). */
SNA_API void cpicCtl_SetAcceptTimeout(int milliseconds);

/* The next cmrcv that delivers data reports received_length as given (it still copies no more
   than requested), simulating a stack that claims more than it was asked for. */
SNA_API void cpicCtl_ReportReceiveLength(CM_INT32 reported_length);

/* The call log since the last reset. */
SNA_API int cpicCtl_CallCount(void);
SNA_API int cpicCtl_GetCall(int index, CpicCallRecord *record); /* 1 if index exists, else 0 */

/* The local state of a conversation (CM_RESET_STATE when unknown or ended). */
SNA_API CM_INT32 cpicCtl_ConversationState(const unsigned char *conversation_ID);

/* Number of conversations the stack still holds (ended ones are forgotten). */
SNA_API int cpicCtl_ConversationCount(void);

#ifdef __cplusplus
}
#endif

#endif
