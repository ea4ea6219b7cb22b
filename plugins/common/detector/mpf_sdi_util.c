#include "mpf_sdi_util.h"

#include <apr_strings.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#ifdef SDI_LOG_SOURCE_OWN
apt_log_source_t *mpf_sdi_log_source = NULL;
#endif

void mpf_sdi_params_init(mpf_sdi_params_t *params)
{
  params->input_mode = MPF_SDI_MODE_BOTH;
  params->vad_mode = 2;
  params->speech_start_timeout = 300;
  params->speech_complete_timeout = 1000;
  params->speech_incomplete_timeout = 3000;
  params->noinput_timeout = 10000;
  params->input_timeout = 20000;
  params->dtmf_interdigit_timeout = 5000;
  params->dtmf_term_timeout = 5000;
  params->dtmf_term_char = 0;
  params->dtmf_length = 0;
  params->dtmf_min_length = 0;
  params->dtmf_max_length = 0;
  params->normalize_input = TRUE;
  params->speech_leading_silence = 50;
  params->speech_trailing_silence = 50;
  params->speech_output_period = 80;
}

void mpf_sdi_event_handlers_init(mpf_sdi_event_handlers_t *handlers)
{
  memset(handlers, 0, sizeof(*handlers));
}

void mpf_sdi_stats_init(mpf_sdi_stats_t *stats)
{
  stats->completion_cause = MPF_SDI_CAUSE_SUCCESS;
  stats->input_duration = 0;
  stats->output_size = 0;
}

const char *mpf_sdi_mode_str(int mode)
{
  switch (mode) {
    case MPF_SDI_MODE_SPEECH:
      return "SPEECH";
    case MPF_SDI_MODE_DTMF:
      return "DTMF";
    case MPF_SDI_MODE_BOTH:
      return "SPEECH|DTMF";
    default:
      return "NONE";
  }
}

const char *mpf_sdi_state_str(int state)
{
  switch (state) {
    case MPF_SDI_STATE_NO_INPUT:
      return "NO-INPUT";
    case MPF_SDI_STATE_IN_PROGRESS:
      return "IN-PROGRESS";
    case MPF_SDI_STATE_COMPLETE:
      return "COMPLETE";
    default:
      return "UNKNOWN";
  }
}

const char *mpf_sdi_completion_cause_str(int cause)
{
  switch (cause) {
    case MPF_SDI_CAUSE_SUCCESS:
      return "success";
    case MPF_SDI_CAUSE_TIMEDOUT:
      return "timedout";
    case MPF_SDI_CAUSE_STOPPED:
      return "stopped";
    default:
      return "UNKNOWN";
  }
}

/* Numbers are base 10; like strtol, a value without digits reads as 0. A negative value wraps
 * to a very large one, which for a timeout means "never". */
static apr_size_t sdi_number(const char *value)
{
  return (apr_size_t)strtol(value, NULL, 10);
}

static void sdi_input_mode_load(mpf_sdi_params_t *params, const apr_xml_attr *attr)
{
  static const struct {
    const char *name;
    mpf_sdi_mode_e mode;
  } modes[] = {{"none", MPF_SDI_MODE_NONE},
               {"speech", MPF_SDI_MODE_SPEECH},
               {"dtmf", MPF_SDI_MODE_DTMF},
               {"both", MPF_SDI_MODE_BOTH}};
  for (size_t i = 0; i < sizeof(modes) / sizeof(modes[0]); i++) {
    if (strcasecmp(attr->value, modes[i].name) == 0) {
      params->input_mode = modes[i].mode;
      return;
    }
  }
  apt_log(SDI_LOG_SOURCE, APT_LOG_MARK, APT_PRIO_WARNING, "Unexpected Value <%s> for SDI Attribute <%s>", attr->value,
          attr->name);
}

static void sdi_boolean_load(apt_bool_t *value, const apr_xml_attr *attr)
{
  if (strcasecmp(attr->value, "true") == 0)
    *value = TRUE;
  else if (strcasecmp(attr->value, "false") == 0)
    *value = FALSE;
  else
    apt_log(SDI_LOG_SOURCE, APT_LOG_MARK, APT_PRIO_WARNING, "Unexpected Value <%s> for Boolean Attribute <%s>",
            attr->value, attr->name);
}

#define SDI_NUMBER_ATTR(attr_name, field) {attr_name, offsetof(mpf_sdi_params_t, field)}

apt_bool_t mpf_sdi_params_load(mpf_sdi_params_t *params, const apr_xml_elem *element, apr_pool_t *pool)
{
  /* The plain numeric attributes; the others have rules of their own below. */
  static const struct {
    const char *name;
    size_t offset;
  } numbers[] = {
      SDI_NUMBER_ATTR("speech-start-timeout", speech_start_timeout),
      SDI_NUMBER_ATTR("speech-complete-timeout", speech_complete_timeout),
      SDI_NUMBER_ATTR("speech-incomplete-timeout", speech_incomplete_timeout),
      SDI_NUMBER_ATTR("noinput-timeout", noinput_timeout),
      SDI_NUMBER_ATTR("input-timeout", input_timeout),
      SDI_NUMBER_ATTR("dtmf-interdigit-timeout", dtmf_interdigit_timeout),
      SDI_NUMBER_ATTR("dtmf-term-timeout", dtmf_term_timeout),
      SDI_NUMBER_ATTR("dtmf-length", dtmf_length),
      SDI_NUMBER_ATTR("dtmf-min-length", dtmf_min_length),
      SDI_NUMBER_ATTR("dtmf-max-length", dtmf_max_length),
      SDI_NUMBER_ATTR("speech-leading-silence", speech_leading_silence),
      SDI_NUMBER_ATTR("speech-trailing-silence", speech_trailing_silence),
      SDI_NUMBER_ATTR("speech-output-period", speech_output_period),
  };
  (void)pool;
  if (!params || !element)
    return TRUE;

  for (const apr_xml_attr *attr = element->attr; attr; attr = attr->next) {
    if (!attr->name)
      continue;
    const char *value = attr->value ? attr->value : "";
    apt_log(SDI_LOG_SOURCE, APT_LOG_MARK, APT_PRIO_DEBUG, "Load SDI Attribute: %s = %s", attr->name, value);
    apr_xml_attr safe = *attr;
    safe.value = value;

    if (strcasecmp(attr->name, "input-mode") == 0) {
      sdi_input_mode_load(params, &safe);
    } else if (strcasecmp(attr->name, "vad-mode") == 0) {
      params->vad_mode = sdi_number(value);
      if (params->vad_mode > 3) {
        apt_log(SDI_LOG_SOURCE, APT_LOG_MARK, APT_PRIO_WARNING, "Inapropriate Vad Mode [%d], Allowed Range [0..3]",
                (int)params->vad_mode);
        params->vad_mode = 0;
      }
    } else if (strcasecmp(attr->name, "dtmf-term-char") == 0) {
      params->dtmf_term_char = value[0];
    } else if (strcasecmp(attr->name, "normalize-input") == 0) {
      sdi_boolean_load(&params->normalize_input, &safe);
    } else {
      size_t i;
      for (i = 0; i < sizeof(numbers) / sizeof(numbers[0]); i++) {
        if (strcasecmp(attr->name, numbers[i].name) == 0) {
          *(apr_size_t *)((char *)params + numbers[i].offset) = sdi_number(value);
          break;
        }
      }
      if (i == sizeof(numbers) / sizeof(numbers[0]))
        apt_log(SDI_LOG_SOURCE, APT_LOG_MARK, APT_PRIO_WARNING, "Unknown SDI Attribute <%s>", attr->name);
    }
  }
  return TRUE;
}
