"""A Jupyter kernel for kestrivo, driving the interpreter through its event stream."""
__version__ = "1.0.0"
