// Singly linked lists whose elements carry a data pointer and a fixed number
// of attribute bytes, allocated in a storage area (or on the heap with
// STG_AREA_HEAP).
//
// Link changes run with asynchronous raises inhibited, so a raise never
// leaves a half-linked list behind. Running out of storage ends the process:
// callers of this family never check for a null element.
#include <orvexks/list.h>
#include <orvexks/pfm.h>

#include <cstring>

#include "containers/list_msgs.h"
#include "msg/msg_out.h"

struct list_elem {
  list_elem *next;  // first, so an element handle also addresses its link
  void *data;
  unsigned char attrs[];
};

struct list {
  list_elem *first;
  list_elem *last;
  stg_area_t area;
  uint32_t attr_size;
};

namespace {

void *alloc_or_panic(stg_area_t area, size_t size) {
  void *p = stg_alloc(area, size);
  if (p == nullptr) {
    imsg_print_shared(IMSG_ERROR, "ks/list", &ksi_list_msgs,
                      KSI_LIST_NO_STORAGE);
    pfm_panic(__FILE__, __LINE__);
  }
  return p;
}

list_elem *new_elem(list_t *list, void *data) {
  auto *elem = static_cast<list_elem *>(
      alloc_or_panic(list->area, sizeof(list_elem) + list->attr_size));
  elem->next = nullptr;
  elem->data = data;
  std::memset(elem->attrs, 0, list->attr_size);
  return elem;
}

void link_last(list_t *list, list_elem *elem) {
  pfm_inhibit();
  elem->next = nullptr;
  if (list->last != nullptr) {
    list->last->next = elem;
  } else {
    list->first = elem;
  }
  list->last = elem;
  pfm_enable();
}

}  // namespace

extern "C" {

list_t *list_create(stg_area_t area, uint32_t attr_size) {
  auto *list = static_cast<list_t *>(alloc_or_panic(area, sizeof(list_t)));
  list->first = nullptr;
  list->last = nullptr;
  list->area = area;
  list->attr_size = attr_size;
  return list;
}

void list_destroy(list_t *list) {
  if (list == nullptr || list->area != STG_AREA_HEAP) return;
  for (list_elem *e = list->first; e != nullptr;) {
    list_elem *next = e->next;
    stg_free(e);
    e = next;
  }
  stg_free(list);
}

list_elem_t *list_append(list_t *list, void *data) {
  list_elem *elem = new_elem(list, data);
  link_last(list, elem);
  return elem;
}

list_elem_t *list_insert(list_t *list, list_elem_t *after, void *data) {
  list_elem *elem = new_elem(list, data);
  pfm_inhibit();
  if (after == nullptr) {
    elem->next = list->first;
    list->first = elem;
    if (list->last == nullptr) list->last = elem;
  } else {
    elem->next = after->next;
    after->next = elem;
    if (list->last == after) list->last = elem;
  }
  pfm_enable();
  return elem;
}

void list_remove(list_t *list, list_elem_t *elem) {
  pfm_inhibit();
  list_elem *prev = nullptr;
  list_elem *e = list->first;
  while (e != nullptr && e != elem) {
    prev = e;
    e = e->next;
  }
  if (e != nullptr) {
    if (prev != nullptr) {
      prev->next = elem->next;
    } else {
      list->first = elem->next;
    }
    if (list->last == elem) list->last = prev;
  }
  pfm_enable();
  if (e == nullptr) {
    imsg_print(IMSG_ERROR, &ksi_list_msgs, KSI_LIST_NOT_IN_LIST,
               reinterpret_cast<unsigned long>(elem),
               reinterpret_cast<unsigned long>(list));
    return;
  }
  if (list->area == STG_AREA_HEAP) stg_free(elem);
}

void list_concat(list_t *dest, list_t *src) {
  if (src == nullptr || src->first == nullptr) return;
  uint32_t attrs =
      dest->attr_size < src->attr_size ? dest->attr_size : src->attr_size;
  // Stop at the source's last element as it is now, so concatenating a
  // list onto itself doubles it once instead of running forever.
  list_elem *stop = src->last;
  for (list_elem *e = src->first;; e = e->next) {
    list_elem *copy = new_elem(dest, e->data);
    std::memcpy(copy->attrs, e->attrs, attrs);
    link_last(dest, copy);
    if (e == stop) break;
  }
}

list_elem_t *list_next(list_t *list, list_elem_t *elem, void **data) {
  list_elem *next = nullptr;
  if (elem != nullptr) {
    next = elem->next;
  } else if (list != nullptr) {
    next = list->first;
  }
  if (data != nullptr) *data = next != nullptr ? next->data : nullptr;
  return next;
}

list_elem_t *list_final(list_t *list, void **data) {
  list_elem *last = list != nullptr ? list->last : nullptr;
  if (data != nullptr) *data = last != nullptr ? last->data : nullptr;
  return last;
}

int list_is_empty(list_t *list) {
  return list == nullptr || list->last == nullptr;
}

int list_length(list_t *list) {
  int n = 0;
  for (list_elem *e = list != nullptr ? list->first : nullptr; e != nullptr;
       e = e->next) {
    ++n;
  }
  return n;
}

void *list_get_data(list_t *, list_elem_t *elem) { return elem->data; }

void list_set_data(list_t *, list_elem_t *elem, void *data) {
  elem->data = data;
}

void *list_get_attrs(list_t *list, list_elem_t *elem, uint32_t *size) {
  if (size != nullptr) *size = list->attr_size;
  return elem->attrs;
}

void list_set_attrs(list_t *list, list_elem_t *elem, uint32_t count,
                    const void *src) {
  if (count > list->attr_size) {
    imsg_print(IMSG_ERROR, &ksi_list_msgs, KSI_LIST_ATTRS_TOO_LONG,
               static_cast<int>(count), static_cast<int>(list->attr_size));
    pfm_panic(__FILE__, __LINE__);
  }
  std::memcpy(elem->attrs, src, count);
}

}  // extern "C"
