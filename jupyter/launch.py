"""Starts the kestrivo kernel from its kernel spec's folder, where the
kernel's module lies beside this file.  The interpreter is $KESTRIVO when
set, else the kestrivo installed with the kernel (PREFIX/bin, four folders
up from PREFIX/share/jupyter/kernels/kestrivo), else kestrivo on the PATH."""
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
installed = os.path.normpath(os.path.join(here, "..", "..", "..", "..", "bin", "kestrivo"))
if "KESTRIVO" not in os.environ and os.access(installed, os.X_OK):
    os.environ["KESTRIVO"] = installed

from kestrivo_kernel.kernel import KestrivoKernel  # noqa: E402
from ipykernel.kernelapp import IPKernelApp  # noqa: E402

IPKernelApp.launch_instance(kernel_class=KestrivoKernel)
