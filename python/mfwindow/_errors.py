"""The package's exceptions that the compiled core raises too."""


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
