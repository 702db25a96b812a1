/* A stand-in for hidapi, loaded with LD_PRELOAD ahead of the real library,
 * so zelkolink-dump's live HID path can be tested on a machine without HID
 * devices. It implements the hidapi functions the tool calls, driven by the
 * script file named in ZELKOLINK_FAKE_HID, one tab-separated entry a line:
 *   device <vid> <pid> <serial> <manufacturer> <product> <path>
 *   report <hex bytes>     delivered by the next read of any open device
 *   vanish                 the next read fails, as for an unplugged device
 * A device whose path contains "denied" is listed but cannot be opened. Once
 * the script's reads are used up, every read waits out its timeout and
 * returns 0; a signal cuts the wait short with -1, as hidapi's poll does. */
#define _POSIX_C_SOURCE 200809L

#include <hidapi.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

struct hid_device_ {
  int unused;
};

enum { MAX_DEVICES = 16, MAX_READS = 64, MAX_REPORT = 512, MAX_FIELD = 128 };

struct fake_device {
  unsigned short vendor_id, product_id;
  char serial[MAX_FIELD], manufacturer[MAX_FIELD], product[MAX_FIELD], path[MAX_FIELD];
};

struct fake_read {
  int vanish;
  size_t length;
  unsigned char bytes[MAX_REPORT];
};

static struct fake_device devices[MAX_DEVICES];
static struct fake_read reads[MAX_READS];
static size_t device_count, read_count, next_read;
static int loaded;
static const wchar_t* global_error = L"Success";
static const wchar_t* device_error = L"Success";
static struct hid_device_ the_device;

static void parse_hex(const char* text, struct fake_read* read) {
  unsigned value;
  int used;
  while (read->length < MAX_REPORT && sscanf(text, " %2x%n", &value, &used) == 1) {
    read->bytes[read->length++] = (unsigned char)value;
    text += used;
  }
}

static void load_script(void) {
  const char* name = getenv("ZELKOLINK_FAKE_HID");
  FILE* script = name ? fopen(name, "r") : NULL;
  char line[2048];
  loaded = 1;
  if (!script) return;
  while (fgets(line, sizeof line, script)) {
    line[strcspn(line, "\r\n")] = '\0';
    if (strncmp(line, "device\t", 7) == 0 && device_count < MAX_DEVICES) {
      struct fake_device* d = &devices[device_count++];
      char* fields[6] = {0};
      char* at = line + 7;
      size_t k;
      for (k = 0; k < 6 && at; ++k) { /* fields may be empty */
        fields[k] = at;
        at = strchr(at, '\t');
        if (at) *at++ = '\0';
      }
      if (k < 6) continue;
      d->vendor_id = (unsigned short)strtoul(fields[0], NULL, 16);
      d->product_id = (unsigned short)strtoul(fields[1], NULL, 16);
      snprintf(d->serial, MAX_FIELD, "%s", fields[2]);
      snprintf(d->manufacturer, MAX_FIELD, "%s", fields[3]);
      snprintf(d->product, MAX_FIELD, "%s", fields[4]);
      snprintf(d->path, MAX_FIELD, "%s", fields[5]);
    } else if (strncmp(line, "report\t", 7) == 0 && read_count < MAX_READS) {
      parse_hex(line + 7, &reads[read_count++]);
    } else if (strcmp(line, "vanish") == 0 && read_count < MAX_READS) {
      reads[read_count++].vanish = 1;
    }
  }
  fclose(script);
}

static wchar_t* widen(const char* text) {
  size_t n = strlen(text), k;
  wchar_t* wide = calloc(n + 1, sizeof *wide);
  for (k = 0; wide && k < n; ++k) wide[k] = (wchar_t)(unsigned char)text[k];
  return wide;
}

int HID_API_EXPORT hid_init(void) { return 0; }

int HID_API_EXPORT hid_exit(void) { return 0; }

struct hid_device_info HID_API_EXPORT* hid_enumerate(unsigned short vendor_id,
                                                     unsigned short product_id) {
  struct hid_device_info *first = NULL, **link = &first;
  size_t k;
  if (!loaded) load_script();
  for (k = 0; k < device_count; ++k) {
    const struct fake_device* d = &devices[k];
    struct hid_device_info* info;
    if ((vendor_id && d->vendor_id != vendor_id) || (product_id && d->product_id != product_id))
      continue;
    info = calloc(1, sizeof *info);
    if (!info) break;
    info->path = strdup(d->path);
    info->vendor_id = d->vendor_id;
    info->product_id = d->product_id;
    info->serial_number = widen(d->serial);
    info->manufacturer_string = widen(d->manufacturer);
    info->product_string = widen(d->product);
    *link = info;
    link = &info->next;
  }
  return first;
}

void HID_API_EXPORT hid_free_enumeration(struct hid_device_info* devs) {
  while (devs) {
    struct hid_device_info* next = devs->next;
    free(devs->path);
    free(devs->serial_number);
    free(devs->manufacturer_string);
    free(devs->product_string);
    free(devs);
    devs = next;
  }
}

HID_API_EXPORT hid_device* hid_open_path(const char* path) {
  size_t k;
  if (!loaded) load_script();
  for (k = 0; k < device_count; ++k) {
    if (strcmp(devices[k].path, path) != 0) continue;
    if (strstr(path, "denied")) break;
    return &the_device;
  }
  global_error = L"Permission denied";
  return NULL;
}

int HID_API_EXPORT hid_read_timeout(hid_device* dev, unsigned char* data, size_t length,
                                    int milliseconds) {
  (void)dev;
  if (next_read < read_count) {
    const struct fake_read* read = &reads[next_read++];
    if (read->vanish) return -1; /* hidapi gives no reason after a hang-up */
    if (length > read->length) length = read->length;
    memcpy(data, read->bytes, length);
    return (int)length;
  }
  if (poll(NULL, 0, milliseconds) < 0) {
    device_error = L"Interrupted system call";
    return -1;
  }
  return 0;
}

void HID_API_EXPORT hid_close(hid_device* dev) { (void)dev; }

HID_API_EXPORT const wchar_t* HID_API_CALL hid_error(hid_device* dev) {
  return dev ? device_error : global_error;
}
