// Scheduling constants: the operation mode and how often, in closed subbands,
// each classifier runs over the history.
#ifndef TESSARON_PIPELINE_CLASS_MODULE_H
#define TESSARON_PIPELINE_CLASS_MODULE_H

#include <cstdint>

inline constexpr uint16_t CONST_OP_MODE_SCAN = 0;
inline constexpr uint16_t CONST_OP_MODE_SC = 1;  // single channel
inline constexpr uint16_t CONST_OPERATION_MODE = CONST_OP_MODE_SC;

inline constexpr uint16_t CONST_NUM_SUBBANDS_PER_CYCLE = 6;
inline constexpr uint16_t CONST_NUM_SUBBANDS_PER_CYCLE_SC = 1;
inline constexpr uint16_t CONST_NUM_SUBBANDS_HISTORY = 120;
inline constexpr uint16_t CONST_NUM_CYCLES_FH_DEVICES = 10;
inline constexpr uint16_t CONST_NUM_CYCLES_FH_DEVICES_SC = 72;
inline constexpr uint16_t CONST_NUM_CYCLES_HIGHDUTY = 1;
inline constexpr uint16_t CONST_NUM_CYCLES_HIGHDUTY_SC = 18;
inline constexpr uint16_t CONST_NUM_CYCLES_MICROWAVE = 2;
inline constexpr uint16_t CONST_NUM_CYCLES_MICROWAVE_SC = 18;
inline constexpr uint32_t CONST_SUBBAND_DWELL_TIME_US = 110000;
inline constexpr uint16_t CONST_DBG_CAN_CHECK_FHSS = 1;
inline constexpr uint16_t CONST_DBG_CAN_CHECK_HIGHDUTY = 1;
inline constexpr uint16_t CONST_DBG_CAN_CHECK_MWO = 1;

#endif
