/* LUA RUI interface of the SNA communications stack: the verb record and its single entry
   point RUI. A verb either completes before RUI returns, or RUI returns with lua_flag2.async
   set and the stack later finishes the record and signals the event in lua_post_handle. */
#ifndef SNA_LUA_H
#define SNA_LUA_H

#include <stdint.h>

#include "sna_export.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LUA_VERB_RUI 0x52

#define LUA_OPCODE_RUI_INIT 0x8001
#define LUA_OPCODE_RUI_TERM 0x8002
#define LUA_OPCODE_RUI_READ 0x8003
#define LUA_OPCODE_RUI_WRITE 0x8004
#define LUA_OPCODE_RUI_BID 0x8006

#define LUA_COMMON_LENGTH 68 /* lua_verb_length of every verb but the bid */
#define LUA_BID_LENGTH 80    /* the common part and lua_peek_data */

/* primary return codes (lua_prim_rc) */
#define LUA_OK 0x0000
#define LUA_PARAMETER_CHECK 0x0001
#define LUA_STATE_CHECK 0x0002
#define LUA_SESSION_FAILURE 0x000F
#define LUA_UNSUCCESSFUL 0x0014
#define LUA_NEGATIVE_RSP 0x0018
#define LUA_CANCELLED 0x0021
#define LUA_IN_PROGRESS 0x0030
#define LUA_COMM_SUBSYSTEM_ABENDED 0xF003
#define LUA_INVALID_VERB 0xFFFF

/* secondary return codes (lua_sec_rc) */
#define LUA_SEC_OK 0x00000000u
#define LUA_INVALID_LUNAME 0x00000001u
#define LUA_BAD_SESSION_ID 0x00000002u
#define LUA_BAD_DATA_PTR 0x00000003u
#define LUA_NO_DATA 0x00000004u         /* nowait read or bid with nothing waiting */
#define LUA_DATA_TRUNCATED 0x00000005u  /* read buffer smaller than the request unit */
#define LUA_VERB_LENGTH_INVALID 0x00000006u
#define LUA_INVALID_OPCODE 0x00000007u
#define LUA_LU_IN_USE 0x00000008u
#define LUA_SESSION_ENDED 0x00000009u   /* the session ended while the verb was outstanding */
#define LUA_BID_ALREADY_ENABLED 0x0000000Au

/* message types (lua_message_type) */
#define LUA_MESSAGE_TYPE_LU_DATA 0x01
#define LUA_MESSAGE_TYPE_SSCP_DATA 0x02
#define LUA_MESSAGE_TYPE_RSP 0x03

#pragma pack(push, 1)

/* Flags supplied with a verb. Bit 0 is the least significant bit. */
typedef struct {
    unsigned char lu_norm : 1;     /* 0x01 */
    unsigned char lu_exp : 1;      /* 0x02 */
    unsigned char sscp_norm : 1;   /* 0x04 */
    unsigned char sscp_exp : 1;    /* 0x08 */
    unsigned char nowait : 1;      /* 0x10 */
    unsigned char close_abend : 1; /* 0x20 */
    unsigned char reserv1 : 1;     /* 0x40 */
    unsigned char bid_enable : 1;  /* 0x80 */
} LUA_FLAG1;

/* Flags returned with a verb. */
typedef struct {
    unsigned char lu_norm : 1;    /* 0x01 */
    unsigned char lu_exp : 1;     /* 0x02 */
    unsigned char sscp_norm : 1;  /* 0x04 */
    unsigned char sscp_exp : 1;   /* 0x08 */
    unsigned char reserv1 : 2;    /* 0x30 */
    unsigned char async : 1;      /* 0x40: the verb completes later */
    unsigned char bid_enable : 1; /* 0x80 */
} LUA_FLAG2;

/* FID2 transmission header, 6 bytes. */
typedef struct {
    unsigned char flags_efi : 1;  /* 0x01 expedited flow indicator */
    unsigned char flags_odai : 1; /* 0x02 OAF-DAF assignor indicator */
    unsigned char flags_mpf : 2;  /* 0x0C mapping field */
    unsigned char flags_fid : 4;  /* 0xF0 format identification */
    unsigned char reserv1;
    unsigned char daf;
    unsigned char oaf;
    unsigned char snf[2];
} LUA_TH;

/* Request/response header, 3 bytes. */
typedef struct {
    /* byte 0 */
    unsigned char eci : 1;     /* 0x01 */
    unsigned char bci : 1;     /* 0x02 */
    unsigned char sdi : 1;     /* 0x04 */
    unsigned char fi : 1;      /* 0x08 */
    unsigned char reserv1 : 1; /* 0x10 */
    unsigned char ruc : 2;     /* 0x60 */
    unsigned char rri : 1;     /* 0x80 */
    /* byte 1 */
    unsigned char pi : 1;      /* 0x01 */
    unsigned char qri : 1;     /* 0x02 */
    unsigned char reserv4 : 2; /* 0x0C */
    unsigned char ri : 1;      /* 0x10 */
    unsigned char dr2i : 1;    /* 0x20 */
    unsigned char reserv5 : 1; /* 0x40 */
    unsigned char dr1i : 1;    /* 0x80 */
    /* byte 2 */
    unsigned char reserv6 : 1; /* 0x01 */
    unsigned char pdi : 1;     /* 0x02 */
    unsigned char edi : 1;     /* 0x04 */
    unsigned char csi : 1;     /* 0x08 */
    unsigned char reserv7 : 1; /* 0x10 */
    unsigned char cdi : 1;     /* 0x20 */
    unsigned char ebi : 1;     /* 0x40 */
    unsigned char bbi : 1;     /* 0x80 */
} LUA_RH;

typedef struct {
    uint16_t lua_verb;
    uint16_t lua_verb_length;
    uint16_t lua_prim_rc;
    uint32_t lua_sec_rc;
    uint16_t lua_opcode;
    uint32_t lua_correlator;
    unsigned char lua_luname[8];
    uint16_t lua_extension_list_offset;
    uint16_t lua_cobol_offset;
    uint32_t lua_sid;
    uint16_t lua_max_length;
    uint16_t lua_data_length;
    unsigned char *lua_data_ptr;
    uint32_t lua_post_handle; /* the completion event's handle */
    LUA_TH lua_th;
    LUA_RH lua_rh;
    LUA_FLAG1 lua_flag1;
    unsigned char lua_message_type;
    LUA_FLAG2 lua_flag2;
    unsigned char lua_resv56[7];
    unsigned char lua_encr_decr_option;
    unsigned char lua_reserv64[4];
} LUA_COMMON;

typedef union {
    unsigned char lua_peek_data[12]; /* first bytes of the waiting data (bid) */
    unsigned char lua_sequence_number[2];
} LUA_SPECIFIC;

typedef struct {
    LUA_COMMON common;
    LUA_SPECIFIC specific;
} LUA_VERB_RECORD;

#pragma pack(pop)

#if defined(__cplusplus) && defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(LUA_COMMON) == LUA_COMMON_LENGTH, "LUA_COMMON is 68 bytes");
static_assert(sizeof(LUA_VERB_RECORD) == LUA_BID_LENGTH, "common part and peek data");
#endif
#ifdef __cplusplus
static_assert(sizeof(LUA_FLAG1) == 1 && sizeof(LUA_FLAG2) == 1, "flag bytes");
static_assert(sizeof(LUA_TH) == 6 && sizeof(LUA_RH) == 3, "header sizes");
#endif

/* Issues one verb. */
SNA_API void RUI_ENTRY RUI(LUA_VERB_RECORD *verb);

#ifdef __cplusplus
}
#endif

#endif
