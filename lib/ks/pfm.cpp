// placeholder: filled in by its family
