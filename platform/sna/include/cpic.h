/* CPI-C interface of the SNA communications stack, as the conversation bridge calls it.
   Every argument is passed by address. Conversation identifiers are 8 bytes; symbolic
   destination names are 8 bytes (blank or zero padded); TP names are at most 64 bytes. */
#ifndef SNA_CPIC_H
#define SNA_CPIC_H

#include <stdint.h>

#include "sna_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t CM_INT32;
typedef CM_INT32 CM_RETURN_CODE;

#define CM_CID_SIZE 8
#define CM_SDN_SIZE 8
#define CM_TPN_MAX 64

/* return codes */
#define CM_OK 0
#define CM_ALLOCATE_FAILURE_NO_RETRY 1
#define CM_ALLOCATE_FAILURE_RETRY 2
#define CM_CONVERSATION_TYPE_MISMATCH 3
#define CM_SECURITY_NOT_VALID 6
#define CM_SYNC_LVL_NOT_SUPPORTED_PGM 8
#define CM_TPN_NOT_RECOGNIZED 9
#define CM_TP_NOT_AVAILABLE_NO_RETRY 10
#define CM_TP_NOT_AVAILABLE_RETRY 11
#define CM_DEALLOCATED_ABEND 17
#define CM_DEALLOCATED_NORMAL 18
#define CM_PARAMETER_ERROR 19
#define CM_PRODUCT_SPECIFIC_ERROR 20
#define CM_PROGRAM_ERROR_NO_TRUNC 21
#define CM_PROGRAM_ERROR_PURGING 22
#define CM_PROGRAM_ERROR_TRUNC 23
#define CM_PROGRAM_PARAMETER_CHECK 24
#define CM_PROGRAM_STATE_CHECK 25
#define CM_RESOURCE_FAILURE_NO_RETRY 26
#define CM_RESOURCE_FAILURE_RETRY 27
#define CM_UNSUCCESSFUL 28
#define CM_OPERATION_INCOMPLETE 35

/* data_received */
#define CM_NO_DATA_RECEIVED 0
#define CM_DATA_RECEIVED 1
#define CM_COMPLETE_DATA_RECEIVED 2
#define CM_INCOMPLETE_DATA_RECEIVED 3

/* status_received */
#define CM_NO_STATUS_RECEIVED 0
#define CM_SEND_RECEIVED 1
#define CM_CONFIRM_RECEIVED 2
#define CM_CONFIRM_SEND_RECEIVED 3
#define CM_CONFIRM_DEALLOC_RECEIVED 4

/* request_to_send_received */
#define CM_REQ_TO_SEND_NOT_RECEIVED 0
#define CM_REQ_TO_SEND_RECEIVED 1

/* conversation_type */
#define CM_BASIC_CONVERSATION 0
#define CM_MAPPED_CONVERSATION 1

/* deallocate_type */
#define CM_DEALLOCATE_SYNC_LEVEL 0
#define CM_DEALLOCATE_FLUSH 1
#define CM_DEALLOCATE_CONFIRM 2
#define CM_DEALLOCATE_ABEND 3

/* processing_mode */
#define CM_BLOCKING 0
#define CM_NON_BLOCKING 1

/* receive_type */
#define CM_RECEIVE_AND_WAIT 0
#define CM_RECEIVE_IMMEDIATE 1

/* send_type */
#define CM_BUFFER_DATA 0
#define CM_SEND_AND_FLUSH 1
#define CM_SEND_AND_CONFIRM 2
#define CM_SEND_AND_PREP_TO_RECEIVE 3
#define CM_SEND_AND_DEALLOCATE 4

/* sync_level */
#define CM_NONE 0
#define CM_CONFIRM 1

/* conversation states (as reported by the stack's control interface) */
#define CM_RESET_STATE 1
#define CM_INITIALIZE_STATE 2
#define CM_SEND_STATE 3
#define CM_RECEIVE_STATE 4
#define CM_SEND_PENDING_STATE 5
#define CM_CONFIRM_STATE 6
#define CM_CONFIRM_SEND_STATE 7
#define CM_CONFIRM_DEALLOCATE_STATE 8
#define CM_INITIALIZE_INCOMING_STATE 16

SNA_API void CM_ENTRY cmacci(unsigned char *conversation_ID, CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmallc(unsigned char *conversation_ID, CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmcanc(unsigned char *conversation_ID, CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmcfm(unsigned char *conversation_ID, CM_INT32 *request_to_send_received,
                            CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmcfmd(unsigned char *conversation_ID, CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmdeal(unsigned char *conversation_ID, CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmflus(unsigned char *conversation_ID, CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cminic(unsigned char *conversation_ID, CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cminit(unsigned char *conversation_ID, unsigned char *sym_dest_name,
                             CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmptr(unsigned char *conversation_ID, CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmrcv(unsigned char *conversation_ID, unsigned char *buffer,
                            CM_INT32 *requested_length, CM_INT32 *data_received,
                            CM_INT32 *received_length, CM_INT32 *status_received,
                            CM_INT32 *request_to_send_received, CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmrts(unsigned char *conversation_ID, CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmsct(unsigned char *conversation_ID, CM_INT32 *conversation_type,
                            CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmsdt(unsigned char *conversation_ID, CM_INT32 *deallocate_type,
                            CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmsend(unsigned char *conversation_ID, unsigned char *buffer,
                             CM_INT32 *send_length, CM_INT32 *request_to_send_received,
                             CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmserr(unsigned char *conversation_ID, CM_INT32 *request_to_send_received,
                             CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmsltp(unsigned char *tp_name, CM_INT32 *tp_name_length,
                             CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmspm(unsigned char *conversation_ID, CM_INT32 *processing_mode,
                            CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmsrt(unsigned char *conversation_ID, CM_INT32 *receive_type,
                            CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmssl(unsigned char *conversation_ID, CM_INT32 *sync_level,
                            CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmsst(unsigned char *conversation_ID, CM_INT32 *send_type,
                            CM_RETURN_CODE *return_code);
SNA_API void CM_ENTRY cmstpn(unsigned char *conversation_ID, unsigned char *tp_name,
                             CM_INT32 *tp_name_length, CM_RETURN_CODE *return_code);

#ifdef __cplusplus
}
#endif

#endif
