@echo off
REM c
:: c
echo rem not
