"""The package's exceptions that the compiled core raises too, and the
error of a missing optional dependency."""


class SettingError(ValueError):
    """A setting that cannot be used. ``setting`` is the keyword of
    mfwindow.analyse it is about ("window", "max_scale", "fit_range", ...);
    the message says why:

    >>> import numpy as np, mfwindow
    >>> try:
    ...     mfwindow.analyse(np.zeros(2000), window=1000, max_scale=5000)
    ... except mfwindow.SettingError as e:
    ...     print(e.setting)
    max_scale
    """

    def __init__(self, message: str, setting: str) -> None:
        super().__init__(message)
        self.setting = setting

    def __reduce__(self):  # picklable, for Dask workers
        return (type(self), (self.args[0], self.setting))


def missing_extra(what: str, module: str, extra: str,
                  debian: str) -> ImportError:
    """The ImportError of `what` when `module`, which the extra `extra` of
    the package installs, cannot be imported: it says how to install it."""
    return ImportError('%s needs %s: pip install "mfwindow[%s]" (Debian: %s)'
                       % (what, module, extra, debian))
