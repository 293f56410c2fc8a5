// Stacks of variable-size frames, kept as a list of frames in a storage
// area. Each frame remembers the list element of the frame below it, so a
// pop only moves the top; the list itself only grows (stack_depth counts
// the pushes since creation).
#include <orvexks/list.h>
#include <orvexks/stack.h>

struct ks_stack {
  stg_area_t area;
  list_t *frames;
  list_elem_t *top;  // element of the current top frame, null when empty
  uint32_t default_size;
};

namespace {

struct frame {
  list_elem_t *below;  // the previous top
  uint32_t size;
  void *data;
};

frame *frame_of(ks_stack_t *stack, list_elem_t *elem) {
  return static_cast<frame *>(list_get_data(stack->frames, elem));
}

}  // namespace

extern "C" {

ks_stack_t *stack_create(stg_area_t area, uint32_t default_size) {
  auto *stack = static_cast<ks_stack_t *>(stg_alloc(area, sizeof(ks_stack_t)));
  if (stack == nullptr) return nullptr;
  stack->area = area;
  stack->frames = list_create(area, 0);
  stack->top = nullptr;
  stack->default_size = default_size;
  return stack;
}

int stack_varlen_push(ks_stack_t *stack, void *data, uint32_t size) {
  auto *f = static_cast<frame *>(stg_alloc(stack->area, sizeof(frame)));
  if (f == nullptr) return 1;
  f->below = stack->top;
  f->size = size;
  f->data = data;
  stack->top = list_append(stack->frames, f);
  return 0;
}

int stack_push(ks_stack_t *stack, void *data) {
  return stack_varlen_push(stack, data, stack->default_size);
}

int stack_pop(ks_stack_t *stack, void **data, uint32_t *size) {
  if (stack->top == nullptr) {
    *data = nullptr;
    *size = 0;
    return 1;
  }
  frame *f = frame_of(stack, stack->top);
  *data = f->data;
  *size = f->size;
  stack->top = f->below;
  if (stack->area == STG_AREA_HEAP) stg_free(f);
  return 0;
}

int stack_depth(ks_stack_t *stack) { return list_length(stack->frames); }

void stack_destroy(ks_stack_t **stack) {
  ks_stack_t *s = *stack;
  if (s == nullptr) return;
  if (s->area == STG_AREA_HEAP) {
    // Frames still pushed are heap blocks of their own; popped ones are
    // already gone.
    for (list_elem_t *e = s->top; e != nullptr;) {
      frame *f = frame_of(s, e);
      e = f->below;
      stg_free(f);
    }
  }
  list_destroy(s->frames);
  if (s->area == STG_AREA_HEAP) stg_free(s);
  *stack = nullptr;
}

}  // extern "C"
